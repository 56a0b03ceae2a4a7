// The text form of a loaded wizard (what `qorvexal-cli wizard show` prints), in the form of
// `qorvexal-cli describe` (config/description/cfg_dump.h) with the wizard's own lines:
//
//   wizard "<name>", "<title>" default <0|1>
//   section "<name>" ["<subtitle>"]              each page as describe shows a section ("section_plugin"
//     ...                                        for a plug-in page), then
//     skip_when "<operand 1>", "<operand 2>", "<operator>"     the page's conditions
//     on_show / on_back / on_next                the page's action lists, each action below its block:
//       <keyword> "<argument>", ...
//         skip_when ...                          the action's conditions
//   on_init                                      then the wizard's start-up and Finish lists
//   on_apply
#pragma once

#include "config/wizard/wiz_script.h"

#include <string>

std::string WizDumpScript(const WizScript& wiz);
