#include "cdmenu/cd_expr.h"

#include "common/text.h"

#include <cstddef>

void CdConditionSet::Add(std::string_view name)
{
    std::string_view n = Trim(name);
    if (n.empty() || Has(n))
        return;
    names_.emplace_back(n);
}

void CdConditionSet::AddList(std::string_view names)
{
    size_t start = 0;
    for (size_t i = 0; i <= names.size(); ++i) {
        bool end = i == names.size();
        char c = end ? ',' : names[i];
        if (c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            Add(names.substr(start, i - start));
            start = i + 1;
        }
    }
}

bool CdConditionSet::Has(std::string_view name) const
{
    for (const std::string& n : names_)
        if (StrEqualNoCase(n, name))
            return true;
    return false;
}

std::vector<std::string> CdSplitList(std::string_view list, char separator)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t end = list.find(separator, start);
        std::string_view entry = Trim(list.substr(start, end == std::string_view::npos ? end : end - start));
        if (!entry.empty())
            out.emplace_back(entry);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return out;
}

namespace {
// An entry that negates: "!name" or "not name". Returns the name in `name`.
bool IsNegated(std::string_view entry, std::string_view* name)
{
    if (!entry.empty() && entry.front() == '!') {
        *name = Trim(entry.substr(1));
        return true;
    }
    if (entry.size() > 4 && StrStartsWithNoCase(entry, "not") && (entry[3] == ' ' || entry[3] == '\t')) {
        *name = Trim(entry.substr(4));
        return true;
    }
    *name = entry;
    return false;
}

template<typename Match> bool MatchList(std::string_view list, Match match)
{
    std::vector<std::string> entries = CdSplitList(list);
    if (entries.empty())
        return true;
    for (const std::string& entry : entries) {
        std::string_view name;
        bool negated = IsNegated(entry, &name);
        if (match(name) != negated)
            return true;
    }
    return false;
}

enum class TokKind { Name, Open, Close, Not, And, Or };
struct Token {
    TokKind kind;
    std::string_view text; // the name (without its quotes)
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Splits an expression into tokens; false for an unclosed quote.
bool Tokenize(std::string_view s, std::vector<Token>* out)
{
    size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if (IsBlank(c)) {
            ++i;
        } else if (c == '(' || c == ')' || c == '!') {
            out->push_back({ c == '(' ? TokKind::Open : c == ')' ? TokKind::Close : TokKind::Not, s.substr(i, 1) });
            ++i;
        } else if ((c == '&' || c == '|') && i + 1 < s.size() && s[i + 1] == c) {
            out->push_back({ c == '&' ? TokKind::And : TokKind::Or, s.substr(i, 2) });
            i += 2;
        } else if (c == '"') {
            size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos)
                return false;
            out->push_back({ TokKind::Name, s.substr(i + 1, close - i - 1) });
            i = close + 1;
        } else {
            size_t start = i;
            while (i < s.size() && !IsBlank(s[i]) && s[i] != '(' && s[i] != ')' && s[i] != '!' && s[i] != '"'
                && !((s[i] == '&' || s[i] == '|') && i + 1 < s.size() && s[i + 1] == s[i]))
                ++i;
            std::string_view word = s.substr(start, i - start);
            TokKind kind = TokKind::Name;
            if (StrEqualNoCase(word, "not"))
                kind = TokKind::Not;
            else if (StrEqualNoCase(word, "and"))
                kind = TokKind::And;
            else if (StrEqualNoCase(word, "or"))
                kind = TokKind::Or;
            out->push_back({ kind, word });
        }
    }
    return true;
}

class Evaluator {
public:
    Evaluator(const std::vector<Token>& tokens, const std::vector<size_t>& match, const CdConditionSet& set)
        : t_(tokens)
        , match_(match)
        , set_(set)
    {
    }

    // Tokens [b, e): 1, 0 or -1. Operands of "||" and "&&" are taken left to right (the first
    // occurrence of the operator splits first, which for these operators is the same), stopping as
    // soon as the result is decided. Recursion only enters parentheses, whose depth is bounded.
    int Or(size_t b, size_t e) const
    {
        for (;;) {
            size_t op = Find(b, e, TokKind::Or);
            int left = And(b, op);
            if (left != 0 || op == e)
                return left;
            b = op + 1;
        }
    }

private:
    // The first operator of the kind at parenthesis depth 0 in [b, e), or e.
    size_t Find(size_t b, size_t e, TokKind kind) const
    {
        for (size_t i = b; i < e; ++i) {
            if (t_[i].kind == TokKind::Open)
                i = match_[i];
            else if (t_[i].kind == kind)
                return i;
        }
        return e;
    }

    int And(size_t b, size_t e) const
    {
        for (;;) {
            size_t op = Find(b, e, TokKind::And);
            int left = Unary(b, op);
            if (left != 1 || op == e)
                return left;
            b = op + 1;
        }
    }

    int Unary(size_t b, size_t e) const
    {
        bool negate = false;
        while (b < e && t_[b].kind == TokKind::Not) {
            negate = !negate;
            ++b;
        }
        if (b >= e)
            return -1;
        int value;
        if (t_[b].kind == TokKind::Open && match_[b] == e - 1)
            value = Or(b + 1, e - 1);
        else if (e - b == 1 && t_[b].kind == TokKind::Name)
            value = set_.Has(t_[b].text) ? 1 : 0;
        else
            return -1; // two operands without an operator, "!" not first, a misplaced ")"
        if (value < 0)
            return value;
        return negate ? !value : value;
    }

    const std::vector<Token>& t_;
    const std::vector<size_t>& match_;
    const CdConditionSet& set_;
};
} // namespace

bool CdMatchLanguageList(std::string_view list, std::string_view language)
{
    return MatchList(list, [&](std::string_view name) { return StrEqualNoCase(name, language); });
}

bool CdMatchSystemList(std::string_view list, std::string_view system)
{
    return MatchList(list, [&](std::string_view name) { return StrStartsWithNoCase(system, name); });
}

int CdEvalExpression(std::string_view expression, const CdConditionSet& established)
{
    std::vector<Token> tokens;
    if (!Tokenize(expression, &tokens) || tokens.empty())
        return -1;
    // Every parenthesis must close, and they nest at most kCdExprMaxDepth deep: checked before any
    // evaluation, so the evaluation's recursion is bounded.
    std::vector<size_t> match(tokens.size(), 0);
    std::vector<size_t> open;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind == TokKind::Open) {
            open.push_back(i);
            if (open.size() > static_cast<size_t>(kCdExprMaxDepth))
                return -1;
        } else if (tokens[i].kind == TokKind::Close) {
            if (open.empty())
                return -1;
            match[open.back()] = i;
            open.pop_back();
        }
    }
    if (!open.empty())
        return -1;
    return Evaluator(tokens, match, established).Or(0, tokens.size());
}
