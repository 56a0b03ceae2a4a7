// The host's functions bound directly, for the command-line tool and the tests, which link the host's
// code: the program's export wrappers (config/plugin/plugin.h), in the calling convention of the exports.
#include "filterplugin/filter.h"

FilterHost FilterHostDirect(PluginContext* context)
{
    FilterHost host;
    host.context = context;
    host.getDeviceInfo = QvExportGetDeviceInfo;
    host.getPluginParam = QvExportGetPluginParam;
    host.getValue = QvExportGetValue;
    host.setValue = QvExportSetValue;
    host.getTabRow = QvExportGetTabRow;
    host.setTabRow = QvExportSetTabRow;
    host.addTabRow = QvExportAddTabRow;
    host.delTabRow = QvExportDelTabRow;
    host.findTabRow = QvExportFindTabRow;
    return host;
}
