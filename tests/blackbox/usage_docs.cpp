#include "usage_docs.h"

#include <gtest/gtest.h>

#include <cctype>
#include <vector>

#include "programs.h"

namespace {
std::string sourceFile(const std::string& relative)
{
    std::string here = __FILE__;
    std::string root = here.substr(0, here.rfind("tests/blackbox/"));
    std::vector<unsigned char> bytes = readFile(root + relative);
    return std::string(bytes.begin(), bytes.end());
}

// The text from the line starting with `from` to the next line starting with `to`.
std::string section(const std::string& text, const std::string& from, const std::string& to)
{
    std::size_t start = text.find("\n" + from);
    if (start == std::string::npos)
        return "";
    std::size_t end = text.find("\n" + to, start + 1 + from.size());
    return text.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

bool digitAt(const std::string& line, std::size_t at)
{
    return line.size() > at && std::isdigit(static_cast<unsigned char>(line[at]));
}

// Words of `text` that start with a dash: option names, "\-" read as "-".
void addOptionNames(std::string text, std::set<std::string>* names)
{
    for (std::size_t at; (at = text.find("\\-")) != std::string::npos;)
        text.replace(at, 2, "-");
    for (char& c : text)
        if (c == '`' || c == '"' || c == ',' || c == '<' || c == '[')
            c = ' ';
    std::size_t at = 0;
    while ((at = text.find(" -", at)) != std::string::npos) {
        std::size_t end = text.find(' ', at + 1);
        names->insert(text.substr(at + 1, end == std::string::npos ? end : end - at - 1));
        at = end == std::string::npos ? text.size() : end;
    }
}
}  // namespace

ListedNames namesInHelp(const std::string& help)
{
    ListedNames names;
    bool inStatuses = false;
    for (const std::string& line : linesOf(help)) {
        inStatuses = inStatuses || line == "Exit status:";
        if (inStatuses && digitAt(line, 2))
            names.statuses.insert(line.substr(2, line.find(' ', 2) - 2));
        else if (line.rfind("  -", 0) == 0)
            addOptionNames(" " + line.substr(0, line.find("  ", 2)), &names.options);
    }
    return names;
}

ListedNames namesInReadme(const std::string& heading)
{
    ListedNames names;
    for (const std::string& line : linesOf(section(sourceFile("README.md"), heading, "## "))) {
        if (line.rfind("| `-", 0) == 0)
            addOptionNames(" " + line.substr(1, line.find('|', 1) - 1), &names.options);
        else if (line[0] == '|' && digitAt(line, 2))
            names.statuses.insert(line.substr(2, line.find(' ', 2) - 2));
    }
    return names;
}

ListedNames namesInManual(const std::string& page)
{
    ListedNames names;
    const std::string manual = sourceFile(page);
    std::vector<std::string> optionLines = linesOf(section(manual, ".SH OPTIONS", ".SH "));
    for (std::size_t i = 1; i < optionLines.size(); ++i)
        if (optionLines[i - 1] == ".TP")
            addOptionNames(optionLines[i], &names.options);
    std::vector<std::string> statusLines = linesOf(section(manual, ".SH \"EXIT STATUS\"", ".SH "));
    for (std::size_t i = 1; i < statusLines.size(); ++i)
        if (statusLines[i - 1] == ".TP" && statusLines[i].rfind(".B ", 0) == 0)
            names.statuses.insert(statusLines[i].substr(3));
    return names;
}

void expectDocsListWhatHelpLists(const std::string& help, const std::string& readmeHeading,
                                 const std::string& manualPage)
{
    const ListedNames listed = namesInHelp(help);
    ASSERT_FALSE(listed.options.empty() || listed.statuses.empty()) << help;
    const ListedNames readme = namesInReadme(readmeHeading);
    EXPECT_EQ(readme.options, listed.options);
    EXPECT_EQ(readme.statuses, listed.statuses);
    const ListedNames manual = namesInManual(manualPage);
    EXPECT_EQ(manual.options, listed.options);
    EXPECT_EQ(manual.statuses, listed.statuses);
}
