// A stable text form of a description (what `qorvexal-cli describe` prints), in the line syntax of the
// description files so that it reads like one:
//
//   version "<pattern>"                      the taken header's device pattern
//   flags 0x<8 hex digits> multicfg <n>
//   section "<name>" ["<title>"]             title left out when the section has none
//     module "<library>", "<entry>"          plug-in sections
//     module_param "<key>", "<value>"        one line per pair
//     multicfg <n>                           the section's flag (computed from its items)
//     <kind keyword> ["<name>"] [id <n>]     one line per item; decorations (kinds 1-6) have no name
//       <attribute> <value>                  every attribute the item holds, in attribute-table order
//       column <kind keyword> "<name>" [id <n>]   table columns, each with its attributes below it
//         <attribute> <value>
//
// Numbers are decimal; texts and lists are quoted ("a", "b") with \" \\ \n \r \t escapes.
// An attribute is shown when an attribute line set it, or when it holds a non-default value.
#pragma once

#include "config/description/cfg_types.h"

#include <string>

std::string CfgDumpDescription(const CfgDescription& desc);
// One section as above ("section_plugin" for a wizard's plug-in page, which keeps its own name).
void CfgDumpSection(std::string& out, const CfgSection& section);
// A text quoted with the escapes above, and a list of such texts separated by ", ".
std::string CfgDumpQuote(std::string_view text);
std::string CfgDumpQuoteList(const CfgArgList& list);
