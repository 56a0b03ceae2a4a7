// The graph window: the kept values of one device's items over the last hour, day, week or all the kept
// time, drawn with GDI (decimated to the pixel columns shown), with the value under the pointer, the
// minimum and maximum of averaged periods as a band, gaps where the device did not answer; copied as a
// picture or saved as CSV. One window per device; opening it again selects the item asked for.
#pragma once

#include "common/testctl.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class TrendStore;
struct EngineItem;

// At start-up: the window class, and the kept-values store beside the settings in `directory` with its
// writer running; the engine keeps values in it (the store returned).
TrendStore* GraphStart(HINSTANCE instance, const std::string& directory);
// At the end, after the engine is gone: writes what waits and frees the store.
void GraphStop();
// The entry of an item's context menu, and the properties sheet's button (made beside the password).
void GraphAddMenuEntry(HMENU menu, UINT id);
void GraphAddButton(HWND page, int id);
// The graph of an item's kept values (its device's window, the item's series selected).
void GraphOpenItem(HWND owner, EngineItem& item);
// Opens (or brings up) the graph of a device; `refs`: the series to select (the names as kept: "REF",
// "REF:N"); empty selects every kept series of the device.
void GraphOpen(HWND owner, uint32_t address, const std::string& title, const std::vector<std::string>& refs);
// Closes every graph window (at the end).
void GraphCloseAll();
// The test channel's "graph" commands ("" for another verb):
//   graph open ADDRESS [REF]...      opens the graph (the refs selected)
//   graph range hour|day|week|all    the range of the newest graph window
//   graph paint                      redraws it at once: "ok points=N columns=N ms=N" (the last redraw)
//   graph point X                    the pointer at client column X: "ok TEXT" (the value line shown)
//   graph save FILE                  writes its CSV file
//   graph copy                       copies its picture: "ok bitmap=1" when the clipboard holds one
//   graph close
std::string GraphTestCommand(const TestCtlCommand& command);
