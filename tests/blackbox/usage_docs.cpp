#include "usage_docs.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <vector>

#include "programs.h"

namespace {
using Names = std::set<std::string>;

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

// Words of `text` that start with a dash: option names, "\-" read as "-".
void addOptionNames(std::string text, Names* names)
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

void expectDocsListTheOptionsAndStatusesOfHelp(const std::string& program,
                                               const std::string& readmeHeading,
                                               const std::string& manual)
{
    ProgramResult help = runProgram(program, {"--help"}, programsUnderWine() ? 30000 : 5000);
    Names options, statuses;
    bool inStatuses = false;
    for (const std::string& line : linesOf(help.output)) {
        inStatuses = inStatuses || line == "Exit status:";
        if (inStatuses && line.size() > 3 && std::isdigit(static_cast<unsigned char>(line[2])))
            statuses.insert(line.substr(2, line.find(' ', 2) - 2));
        else if (line.rfind("  -", 0) == 0)
            addOptionNames(" " + line.substr(0, line.find("  ", 2)), &options);
    }
    ASSERT_FALSE(options.empty() || statuses.empty()) << help.output;

    std::string readme = section(sourceFile("README.md"), readmeHeading, "## ");
    Names readmeOptions, readmeStatuses;
    for (const std::string& line : linesOf(readme)) {
        if (line.rfind("| `-", 0) == 0)
            addOptionNames(" " + line.substr(1, line.find('|', 1) - 1), &readmeOptions);
        else if (line.size() > 2 && line[0] == '|' && std::isdigit(static_cast<unsigned char>(line[2])))
            readmeStatuses.insert(line.substr(2, line.find(' ', 2) - 2));
    }
    EXPECT_EQ(readmeOptions, options);
    EXPECT_EQ(readmeStatuses, statuses);

    std::string page = sourceFile(manual);
    Names manOptions, manStatuses;
    std::vector<std::string> optionLines = linesOf(section(page, ".SH OPTIONS", ".SH "));
    for (std::size_t i = 1; i < optionLines.size(); ++i)
        if (optionLines[i - 1] == ".TP")
            addOptionNames(optionLines[i], &manOptions);
    std::vector<std::string> statusLines = linesOf(section(page, ".SH \"EXIT STATUS\"", ".SH "));
    for (std::size_t i = 1; i < statusLines.size(); ++i)
        if (statusLines[i - 1] == ".TP" && statusLines[i].rfind(".B ", 0) == 0)
            manStatuses.insert(statusLines[i].substr(3));
    EXPECT_EQ(manOptions, options);
    EXPECT_EQ(manStatuses, statuses);
}
