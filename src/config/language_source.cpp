#include "config/language_source.h"

namespace {
std::wstring LocaleText(LCTYPE type) {
  wchar_t buffer[260] = {};
  int n = ::GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 260);
  return n > 0 ? std::wstring(buffer) : std::wstring();
}
}  // namespace

LANGID LanguageSource::UiLanguage() const { return ::GetUserDefaultUILanguage(); }
std::wstring LanguageSource::LocaleLanguageName() const { return LocaleText(LOCALE_SISO639LANGNAME); }
std::wstring LanguageSource::LocaleCountryName() const { return LocaleText(LOCALE_SISO3166CTRYNAME); }
