// The conditions of the CD start menu: the language, system and condition lists of a menu line, the
// set of established conditions and the logical expressions of "LogicalConditions" and
// "Plugin.Conditions".
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Condition names established at start (file conditions, plug-in examine strings), ignoring case.
class CdConditionSet {
public:
    void Add(std::string_view name);
    // Adds every name of a list separated by commas, semicolons, blanks or line ends.
    void AddList(std::string_view names);
    bool Has(std::string_view name) const;
    const std::vector<std::string>& Names() const
    {
        return names_;
    }

private:
    std::vector<std::string> names_;
};

// Parentheses nest at most this deep in an expression; deeper ones are errors.
constexpr int kCdExprMaxDepth = 64;

// Evaluates a logical expression against the established set: 1 true, 0 false, -1 malformed.
// Operators "(" ")" "!" "&&" "||" and the whole words "not", "and", "or" (any case); a name is a word
// or a double-quoted text. An outer pair of parentheses is unwrapped only when the two match; "||"
// binds lowest, then "&&", then "!" (which must stand first); the left side is evaluated first and
// the right one only when the left does not decide the result.
int CdEvalExpression(std::string_view expression, const CdConditionSet& established);

// A language list ("German,French", "!German", "not German"): empty matches; otherwise true when any
// entry matches: a plain entry equals the language name, "!name" and "not name" differ from it.
bool CdMatchLanguageList(std::string_view list, std::string_view language);
// An operating-system list: the same, but an entry matches when the system name begins with it
// ("WinNT" matches "WINNT40").
bool CdMatchSystemList(std::string_view list, std::string_view system);

// Splits a comma-separated list into its trimmed, non-empty entries.
std::vector<std::string> CdSplitList(std::string_view list, char separator = ',');
