// The main window's folder tree: its items, the folders kept open, new, renamed and deleted folders,
// devices moved between folders, and the tree's notifications.
#include "common/strings.h"
#include "common/text.h"
#include "config/frontend/mainview.h"
#include "config/ui/mainwindow_state_win.h"
#include "config/ui/resource.h"

#include <algorithm>
#include <commctrl.h>

namespace mainwin {
namespace {
// The tree: root "Devices" and every folder, the item data the folder.
void AddFolderItems(HTREEITEM parent, DeviceFolder& folder, HTREEITEM* select)
{
    TVINSERTSTRUCTA ins {};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    std::string text = folder.parent ? folder.name : Text(MainStrDevices);
    ins.item.pszText = text.data();
    ins.item.lParam = reinterpret_cast<LPARAM>(&folder);
    HTREEITEM item
        = reinterpret_cast<HTREEITEM>(SendMessageA(win.tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    if (&folder == CurrentFolder())
        *select = item;
    for (auto& sub : folder.folders)
        AddFolderItems(item, *sub, select);
    std::string path = DeviceList::FolderPath(folder);
    bool expanded = !folder.parent
        || std::any_of(win.view.expanded.begin(), win.view.expanded.end(),
            [&](const std::string& p) { return StrEqualNoCase(p, path); });
    if (expanded)
        TreeView_Expand(win.tree, item, TVE_EXPAND);
}
} // namespace

void RememberExpanded(HTREEITEM item, std::vector<std::string>* out)
{
    for (; item; item = TreeView_GetNextSibling(win.tree, item)) {
        TVITEMA tv {};
        tv.mask = TVIF_PARAM | TVIF_STATE;
        tv.hItem = item;
        tv.stateMask = TVIS_EXPANDED;
        SendMessageA(win.tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        auto* folder = reinterpret_cast<DeviceFolder*>(tv.lParam);
        if ((tv.state & TVIS_EXPANDED) && folder && folder->parent)
            out->push_back(DeviceList::FolderPath(*folder));
        RememberExpanded(TreeView_GetChild(win.tree, item), out);
    }
}

void FillTree()
{
    if (TreeView_GetRoot(win.tree)) {
        std::vector<std::string> expanded;
        RememberExpanded(TreeView_GetRoot(win.tree), &expanded);
        win.view.expanded = expanded;
    }
    win.fillingTree = true;
    TreeView_DeleteAllItems(win.tree);
    HTREEITEM select = nullptr;
    AddFolderItems(TVI_ROOT, win.devices.Root(), &select);
    if (select)
        TreeView_SelectItem(win.tree, select);
    win.fillingTree = false;
}

HTREEITEM FindTreeItem(HTREEITEM item, const DeviceFolder* folder)
{
    for (; item; item = TreeView_GetNextSibling(win.tree, item)) {
        TVITEMA tv {};
        tv.mask = TVIF_PARAM;
        tv.hItem = item;
        SendMessageA(win.tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
        if (reinterpret_cast<DeviceFolder*>(tv.lParam) == folder)
            return item;
        if (HTREEITEM found = FindTreeItem(TreeView_GetChild(win.tree, item), folder))
            return found;
    }
    return nullptr;
}

void SelectFolder(DeviceFolder* folder)
{
    win.devices.current_folder = DeviceList::FolderPath(*folder);
    HTREEITEM item = FindTreeItem(TreeView_GetRoot(win.tree), folder);
    if (item && TreeView_GetSelection(win.tree) != item)
        TreeView_SelectItem(win.tree, item);
    ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
    RefreshRows();
}

void MoveSelectionTo(DeviceFolder* folder)
{
    std::vector<DeviceEntry*> sel = Selected();
    if (sel.empty() || !folder || folder == CurrentFolder())
        return;
    ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
    for (DeviceEntry* e : sel)
        DeviceMove(win.devices, e, *folder);
    SaveList();
    RefreshRows();
}

void NewFolder()
{
    DeviceFolder* parent = CurrentFolder();
    DeviceFolder* folder = FolderCreate(*parent, FolderNewName(*parent, Text(MainStrNewFolder)));
    if (!folder)
        return;
    std::string parentPath = DeviceList::FolderPath(*parent);
    if (!parentPath.empty()
        && std::none_of(win.view.expanded.begin(), win.view.expanded.end(),
            [&](const std::string& p) { return StrEqualNoCase(p, parentPath); }))
        win.view.expanded.push_back(parentPath);
    SaveList(); // kept also when the user leaves the name as offered
    FillTree();
    HTREEITEM item = FindTreeItem(TreeView_GetRoot(win.tree), folder);
    SetFocus(win.tree);
    if (item) {
        TreeView_EnsureVisible(win.tree, item);
        TreeView_EditLabel(win.tree, item);
    }
}

void DeleteFolder()
{
    DeviceFolder* folder = CurrentFolder();
    if (!folder->parent)
        return;
    DeviceFolder* parent = folder->parent;
    FolderDelete(win.devices, *folder);
    win.devices.current_folder = DeviceList::FolderPath(*parent);
    SaveList();
    FillTree();
    RefreshRows();
}

DeviceFolder* TreeFolderAt(POINT screen)
{
    TVHITTESTINFO hit {};
    hit.pt = screen;
    ScreenToClient(win.tree, &hit.pt);
    HTREEITEM item = TreeView_HitTest(win.tree, &hit);
    if (!item || !(hit.flags & TVHT_ONITEM))
        return nullptr;
    TVITEMA tv {};
    tv.mask = TVIF_PARAM;
    tv.hItem = item;
    SendMessageA(win.tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    TreeView_SelectDropTarget(win.tree, item);
    return reinterpret_cast<DeviceFolder*>(tv.lParam);
}

LRESULT OnTreeNotify(NMHDR* hdr)
{
    switch (hdr->code) {
    case TVN_SELCHANGEDA: {
        if (win.fillingTree)
            return 0;
        auto* tv = reinterpret_cast<NMTREEVIEWA*>(hdr);
        auto* folder = reinterpret_cast<DeviceFolder*>(tv->itemNew.lParam);
        if (folder) {
            win.devices.current_folder = DeviceList::FolderPath(*folder);
            ListView_SetItemState(win.list, -1, 0, LVIS_SELECTED);
            RefreshRows();
            UpdateCommands();
        }
        return 0;
    }
    case TVN_BEGINLABELEDITA: {
        auto* info = reinterpret_cast<NMTVDISPINFOA*>(hdr);
        return reinterpret_cast<DeviceFolder*>(info->item.lParam)->parent ? FALSE : TRUE;
    }
    case TVN_ENDLABELEDITA: {
        auto* info = reinterpret_cast<NMTVDISPINFOA*>(hdr);
        auto* folder = reinterpret_cast<DeviceFolder*>(info->item.lParam);
        if (!info->item.pszText || !folder)
            return FALSE;
        bool current = folder == CurrentFolder();
        if (!FolderRename(*folder, info->item.pszText)) {
            Ui().Error(Text(MainStrFolderExists));
            return FALSE;
        }
        if (current)
            win.devices.current_folder = DeviceList::FolderPath(*folder);
        SaveList();
        return TRUE;
    }
    case NM_RCLICK: {
        POINT pt;
        GetCursorPos(&pt);
        TVHITTESTINFO hit {};
        hit.pt = pt;
        ScreenToClient(win.tree, &hit.pt);
        if (HTREEITEM item = TreeView_HitTest(win.tree, &hit))
            TreeView_SelectItem(win.tree, item);
        ContextMenu(2, pt);
        return 0;
    }
    }
    return 0;
}
} // namespace mainwin
