// talvine.exe: the main window's tree of the engine's items: the engine's front end that keeps it, its
// creation with the hint an empty tree shows, the selection, the tips, and what a double or right click does.
#include "common/diag.h"
#include "common/platform/process.h"
#include "common/text.h"
#include "monitor/objtree/expr.h"
#include "monitor/ui/display_win.h"
#include "monitor/ui/talvine_app_win.h"
#include "monitor/ui/talvine_views.h"
#include "monitor/ui/texts.h"

#include <windows.h>

#include <commctrl.h>
#include <memory>
#include <shellapi.h>
#include <string>
#include <vector>

namespace tvwin {
namespace {
// The engine's front end: the tree view holds the shown items, each tree item's lParam its EngineItem.
class WinFrontEnd : public EngineFrontEnd {
public:
    void Wake() override
    {
        if (A().main)
            PostMessageA(A().main, kWakeMessage, 0, 0);
    }
    void ItemInserted(EngineItem& item, EngineItem* after) override
    {
        DisplayItemChanged(item);
        if (item.display)
            return;
        HTREEITEM parent = item.parent ? static_cast<HTREEITEM>(item.parent->frontData) : TVI_ROOT;
        if (item.parent && !parent)
            return;
        HTREEITEM insertAfter = TVI_FIRST;
        if (after && after->frontData)
            insertAfter = static_cast<HTREEITEM>(after->frontData);
        else if (!item.parent)
            insertAfter = LastTopItemBefore(*item.device);
        std::string text = ItemText(item);
        TVINSERTSTRUCTA ins {};
        ins.hParent = parent;
        ins.hInsertAfter = insertAfter;
        ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        ins.item.pszText = text.data();
        ins.item.lParam = reinterpret_cast<LPARAM>(&item);
        ins.item.iImage = ins.item.iSelectedImage = item.object->Image(item.state);
        item.frontData
            = reinterpret_cast<void*>(SendMessageA(A().tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
        if (item.parent && item.parent->expanded)
            SendMessageA(A().tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    }
    void ItemUpdated(EngineItem& item) override
    {
        DisplayItemChanged(item);
        if (item.display || !item.frontData)
            return;
        std::string text = ItemText(item);
        TVITEMA tv {};
        tv.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        tv.hItem = static_cast<HTREEITEM>(item.frontData);
        tv.pszText = text.data();
        tv.iImage = tv.iSelectedImage = item.object->Image(item.state);
        SendMessageA(A().tree, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    }
    void ItemRemoved(EngineItem& item) override
    {
        // Deleting a tree item deletes its children too; TVN_DELETEITEM clears each one's handle.
        if (!item.display && item.frontData)
            SendMessageA(A().tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item.frontData));
        item.frontData = nullptr;
        if (item.display)
            DisplayItemChanged(item);
    }
    void DeviceChanged(EngineDevice& d) override
    {
        DisplayDeviceChanged(d);
    }
    void DeviceAdded(EngineDevice& d) override
    {
        d.details = A().settings.detailsMask;
        A().pendingInput.erase(d.address);
    }
    void DeviceRemoved(EngineDevice& d) override
    {
        DisplayDeviceRemoved(d);
    }
    void DetectFailed(uint32_t address, EngineDetectResult result, const std::string& message) override
    {
        A().failures.push_back(Failure { address, result, message });
        PostMessageA(A().main, kFailureMessage, 0, 0);
    }
    bool Query(EngineDevice&, QueryStyle style, const std::string& message, const std::string& checkText,
        bool* checked) override
    {
        return AskQuery(style, message, checkText, checked);
    }
    void Balloon(EngineDevice& d, uint32_t kind, const std::string& text) override
    {
        if (!A().trayShown)
            return;
        // Which device it is about: its name and address.
        std::string title = StrFormat(Text(UiStrDeviceTitle).c_str(), d.object->name.c_str(), d.AddressText().c_str());
        NOTIFYICONDATAA n {};
        n.cbSize = sizeof n;
        n.hWnd = A().tray;
        n.uID = kTrayId;
        n.uFlags = NIF_INFO;
        lstrcpynA(n.szInfo, text.c_str(), sizeof n.szInfo);
        lstrcpynA(n.szInfoTitle, title.c_str(), sizeof n.szInfoTitle);
        n.dwInfoFlags = kind == 3 ? NIIF_ERROR : kind == 2 ? NIIF_WARNING : NIIF_INFO;
        Shell_NotifyIconA(NIM_MODIFY, &n);
        A().lastBalloon = std::string(n.szInfoTitle) + "\t" + n.szInfo;
    }
    void Plugin(EngineDevice& d, const std::string& name, const std::string& argument) override
    {
        // The accounting and VPN views; a name or argument they do not know does nothing.
        if (!PluginCall(d, name, argument))
            Diag("plug-in call for %s: %s %s: no such view\n", d.AddressText().c_str(), name.c_str(), argument.c_str());
    }
    void Run(EngineDevice&, const std::string& program, const std::string& parameters, bool hidden) override
    {
        if (ProcessStart(program, parameters, hidden) != 1)
            Diag("cannot start %s\n", program.c_str());
    }
    void ErrorMessage(const std::string& text) override
    {
        MessageBoxA(A().main, text.c_str(), "Error", MB_OK | MB_ICONERROR);
    }

private:
    static std::string ItemText(EngineItem& item)
    {
        ScriptContext ctx;
        ctx.item = item.object;
        ctx.device = item.device->object.get();
        ctx.runtime = item.device;
        return ::ItemText(*item.object, item.state, ctx);
    }
    // At top level a device's first item follows the last shown top-level item of the devices before it.
    static HTREEITEM LastTopItemBefore(EngineDevice& device)
    {
        HTREEITEM last = TVI_FIRST;
        for (const auto& d : A().engine->Devices()) {
            if (d.get() == &device)
                break;
            for (const auto& item : d->items)
                if (item->frontData)
                    last = static_cast<HTREEITEM>(item->frontData);
        }
        return last;
    }
};
} // namespace

std::unique_ptr<EngineFrontEnd> MakeFrontEnd()
{
    return std::make_unique<WinFrontEnd>();
}

// The tip of a tree item. A device's own item says why its details are hidden and what to do about it;
// every other item (and an answering device) shows its whole text, which a narrow window may cut.
std::string ItemTip(EngineItem& item)
{
    EngineDevice& d = *item.device;
    bool own = !item.parent && !item.display && !d.items.empty() && d.items.front().get() == &item;
    if (own && d.Error()) {
        std::string name = StrFormat(Text(UiStrDeviceTitle).c_str(), d.object->name.c_str(), d.AddressText().c_str());
        unsigned id = d.noAnswer.load() ? UiStrTipNoAnswer : d.Refused() ? UiStrTipRefused : UiStrTipAnswers;
        return StrFormat(Text(id).c_str(), name.c_str());
    }
    ScriptContext ctx;
    ctx.item = item.object;
    ctx.device = d.object.get();
    ctx.runtime = &d;
    return ::ItemText(*item.object, item.state, ctx);
}

EngineItem* SelectedItem()
{
    HTREEITEM selected = reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!selected)
        return nullptr;
    TVITEMA tv {};
    tv.mask = TVIF_PARAM;
    tv.hItem = selected;
    if (!SendMessageA(A().tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv)))
        return nullptr;
    return reinterpret_cast<EngineItem*>(tv.lParam);
}

// The device of the selected item; the first device while nothing is selected.
EngineDevice* SelectedDevice()
{
    if (EngineItem* item = SelectedItem())
        return item->device;
    return A().engine && !A().engine->Devices().empty() ? A().engine->Devices().front().get() : nullptr;
}

// The tree while devices are monitored, else the hint how to add them.
void ShowTreeOrHint()
{
    bool empty = A().engine && A().engine->Devices().empty();
    bool hintShown = (GetWindowLongA(A().hint, GWL_STYLE) & WS_VISIBLE) != 0;
    if (hintShown != empty) {
        ShowWindow(A().hint, empty ? SW_SHOW : SW_HIDE);
        ShowWindow(A().tree, empty ? SW_HIDE : SW_SHOW);
    }
}

// The tree, with its tips and state images, and the hint an empty tree shows.
void CreateTree(HWND window)
{
    A().tree = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
        WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_INFOTIP, 0, 0,
        0, 0, window, nullptr, A().instance, nullptr);
    A().hint = CreateWindowExA(0, "STATIC", Text(UiStrEmptyTreeHint).c_str(), WS_CHILD | SS_CENTER | SS_NOPREFIX, 0, 0,
        0, 0, window, nullptr, A().instance, nullptr);
    SendMessageA(A().hint, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    // Tips of several lines, shown long enough to be read.
    if (HWND tips = reinterpret_cast<HWND>(SendMessageA(A().tree, TVM_GETTOOLTIPS, 0, 0))) {
        SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, 420);
        SendMessageA(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
    }
    // The image strip: each item shows the image of its state.
    if (HIMAGELIST images = ImageList_LoadImageA(
            A().instance, "MONITORIMAGES", 16, 0, RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION))
        SendMessageA(A().tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
}

// A double click on an item runs its default (bold) menu entry; false on an item without one, which
// expands or collapses as usual.
bool RunDefaultAction()
{
    DWORD pos = GetMessagePos();
    TVHITTESTINFO hit {};
    hit.pt = { static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos)) };
    ScreenToClient(A().tree, &hit.pt);
    HTREEITEM h = reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (!h || !(hit.flags & TVHT_ONITEM))
        return false;
    SendMessageA(A().tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(h));
    EngineItem* item = SelectedItem();
    if (!item)
        return false;
    std::vector<const ActionObject*> actions = ItemMenuActions(*item);
    for (size_t i = 0; i < actions.size(); ++i) {
        if (actions[i]->event == kKwMenudef) {
            RunItemAction(*item, i);
            return true;
        }
    }
    return false;
}

// A right click selects the item under the pointer and opens its menu there.
void TreeContextMenu()
{
    POINT at;
    GetCursorPos(&at);
    TVHITTESTINFO hit {};
    hit.pt = at;
    ScreenToClient(A().tree, &hit.pt);
    auto h = reinterpret_cast<HTREEITEM>(SendMessageA(A().tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (h)
        SendMessageA(A().tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(h));
    ItemContextMenu(at);
}
} // namespace tvwin
