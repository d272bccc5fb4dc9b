#include "info_report.h"

#include <cstdarg>
#include <cstdio>
#include <iterator>

#include "image/image_kinds.h"
#include "info_statuses.h"

namespace {
std::string formatText(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    char small[512];
    int length = std::vsnprintf(small, sizeof small, format, args);
    if (length < 0) {
        va_end(again);
        return std::string();
    }
    if (static_cast<std::size_t>(length) < sizeof small) {
        va_end(again);
        return std::string(small, static_cast<std::size_t>(length));
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.resize(static_cast<std::size_t>(length));
    return text;
}
}  // namespace

Finding makeFinding(int status, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Finding finding{status, formatText(format, args)};
    va_end(args);
    return finding;
}

void addProblem(InfoReport& report, int status, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    report.problems.push_back(Finding{status, formatText(format, args)});
    va_end(args);
}

void addNote(InfoReport& report, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    report.notes.push_back(formatText(format, args));
    va_end(args);
}

int reportStatus(const InfoReport& report)
{
    int status = INFO_FIT;
    for (const Finding& problem : report.problems)
        if (status == INFO_FIT || problem.status < status)
            status = problem.status;
    return status;
}

const char* statusMeaning(int status)
{
    return exitStatusMeaning(infoExitStatuses, std::size(infoExitStatuses), status);
}

const char* typeName(int fileType)
{
    const ImageKind* kind = imageKindOf(fileType);
    return kind ? kind->name : "unknown";
}
