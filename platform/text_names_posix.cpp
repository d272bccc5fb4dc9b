// POSIX backend of names and text: the system takes the bytes as they are
// (UTF-8 in every current locale) and the shell expands wildcards.
#include "platform/text_names.h"

void platformUtf8Arguments(int*, char***)
{
}

std::vector<std::string> platformExpandWildcards(const std::string& argument)
{
    return {argument};
}

bool platformPasswordBytes(const std::string& utf8, std::string* bytes)
{
    *bytes = utf8;
    return true;
}

std::string platformPasswordEncoding()
{
    return "UTF-8";
}

void platformWriteText(std::FILE* stream, const char* text, std::size_t length, bool)
{
    std::fwrite(text, 1, length, stream);
}

std::FILE* platformOpenFile(const char* path, const char* mode)
{
    return std::fopen(path, mode);
}
