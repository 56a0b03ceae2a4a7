#include "config/ui/language_win.h"

#include "config/startup/startup.h"

namespace {
// The program's own resources (those of its executable) in the user-interface language.
template<class T> T* LanguageResource(int id, LPCSTR type)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC r = FindResourceExA(module, type, MAKEINTRESOURCEA(id), Globals().uiLanguage);
    if (!r)
        r = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    HGLOBAL g = r ? LoadResource(module, r) : nullptr;
    return g ? static_cast<T*>(LockResource(g)) : nullptr;
}
} // namespace

HMENU LoadLanguageMenu(int id)
{
    auto* t = LanguageResource<MENUTEMPLATEA>(id, RT_MENU);
    return t ? LoadMenuIndirectA(t) : nullptr;
}

INT_PTR LanguageDialog(int id, HWND owner, DLGPROC proc, LPARAM param)
{
    auto* t = LanguageResource<DLGTEMPLATE>(id, RT_DIALOG);
    if (!t)
        return -1;
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t, owner, proc, param);
}
