// The last steps of an installation: starting the app-store client with the
// channel's game and putting a shortcut on the desktop. Nothing here reports
// a failure: a launch, icon or shortcut that does not work is passed over.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "component/component_selection.h"

class GlobalConfig;

// What the app-store client is told at launch.
struct VendrixLaunchParams {
  uint64_t supplyId = 0;
  std::string pkgName;       // UTF-8, as the channel stores it
  std::string displayName;   // the game's name in the system ANSI code page
  std::string externParams;  // the channel's extra parameters, as stored
};

// " -pkg P -apksupplyid N -displayname D" when both the package and the
// display name are set, then always " " + extra parameters. Nothing is
// quoted. Built as 8-bit text and widened from the ANSI code page.
std::wstring BuildVendrixCommandLine(const VendrixLaunchParams& params);

// Writes the game icon to appStoreFolder\Icons\<pkgName>\Game.Ico (folders
// created as needed) from the "CUSTOM" 134 resource of `module`. Returns the
// file path, or empty text when the folder or file could not be made.
std::wstring PrepareGameIcon(const std::wstring& appStoreFolder, const std::string& pkgName,
                             HMODULE module);

// Writes the "CUSTOM" 134 resource of `module` to `path` (replacing any file
// there). False when the resource is missing or empty or the file cannot be
// written whole.
bool WriteIconResource(HMODULE module, const std::wstring& path);

// The desktop shortcut "<gameName>.lnk" that starts the app store on the
// game's page; the target is the app store found by detection now. An empty
// `iconPath` gives the shortcut an empty icon location.
void CreateGameShortcut(const std::wstring& pkgName, const std::wstring& gameName,
                        const std::wstring& externParams, const std::wstring& iconPath);

// The desktop shortcut to the app store itself: "Fenwyx.lnk" in the
// international build, "Ruvenna.lnk" in the domestic one.
void CreateVendrixShortcut(const std::wstring& appStoreProgram, bool international);

// Writes desktop\<fileName> as a shell link to `target`, replacing a file of
// that name. Null `arguments` or `iconPath` leave that part unset (icon index
// 0 otherwise). Initialises COM on the calling thread for the duration when
// it has none. Returns the first failing shell-link result, E_FAIL when the
// desktop folder is unknown, or the result of saving the link.
HRESULT CreateDesktopShortcut(const std::wstring& target, const std::wstring& fileName,
                              const wchar_t* arguments, const std::wstring& description,
                              const wchar_t* iconPath);

// Starts the app store (visible, not waited for) with the channel's command
// line and logs it; then, when `createIconOption` is set, writes the game
// icon and game shortcut (channel with a game package) or the app-store
// shortcut. `module` carries the game icon resource. Creates an empty entry
// for the app store in `localInfos` when there is none.
void RunFinishSteps(const GlobalConfig& config, LocalInfoMap& localInfos, bool createIconOption,
                    HMODULE module);
