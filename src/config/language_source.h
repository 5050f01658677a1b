// What the system says about the user's language, for choosing the locale
// texts on a first run. The real answers come from the platform; tests give
// their own for what the test machine cannot vary (the UI language).
#pragma once

#include <windows.h>

#include <string>

class LanguageSource {
 public:
  virtual ~LanguageSource() = default;
  // GetUserDefaultUILanguage.
  virtual LANGID UiLanguage() const;
  // The user-default locale's ISO 639 language name ("en"); empty on failure.
  virtual std::wstring LocaleLanguageName() const;
  // The user-default locale's ISO 3166 country name ("TW"); empty on failure.
  virtual std::wstring LocaleCountryName() const;
};
