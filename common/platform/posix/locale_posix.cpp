#include "common/locale.h"

// Without a Windows locale every program formats the same way, so that its output is reproducible.
const LocaleFormat& SystemLocale()
{
    return EnglishLocale();
}
