// Installing the downloaded packages: InstallPipeline::InstallComponent
// (component_install.cpp) and the repair of a volatile product key.
#pragma once

// The machine-wide key under which the platform's components register.
inline constexpr const wchar_t* kProductKeyPath = L"Software\\Vorlenk\\Pardomix";

// Removes a volatile product key tree (or, when the maker key itself is
// volatile, the maker key tree) so that the next creation below it makes
// stable keys. Used after a component key failed with
// ERROR_CHILD_MUST_BE_VOLATILE (1021). Everything below the removed key is
// gone afterwards; errors are not reported and leave the registry as it was.
void RepairVolatileProductKey();
