// The password file on arbitrary contents: the file and its UTF-8 text give
// the same password, one line long, never empty, taken from the first line.
#include <sys/stat.h>

#include "fleet_password.h"
#include "fuzz_support.h"
#include "saved_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::writeScratch(data, size);
    // Only its owner may read a password file.
    FUZZ_CHECK(chmod(fuzz::scratchPath().c_str(), 0600) == 0);
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string fromText;
    std::string fromFile;
    // Read only when it is UTF-8 (elsewhere than Windows its bytes are sent).
    std::string checked = text;
    int line = 0;
    std::string problem;
    const bool saved = takeSavedText(&checked, "the password file", &line, &problem);
    const bool taken = passwordOfText(text, &fromText) && saved;
    FUZZ_CHECK(readPasswordFile(fuzz::scratchPath(), &fromFile) == taken);
    if (!taken)
        return 0;
    FUZZ_CHECK(fromText == fromFile && !fromText.empty());
    FUZZ_CHECK(fromText.find('\n') == std::string::npos);
    // The whole first line, after the mark if there is one.
    const std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const std::size_t end = at + fromText.size();
    FUZZ_CHECK(text.compare(at, fromText.size(), fromText) == 0);
    FUZZ_CHECK(end == text.size() || text[end] == '\n' || text.compare(end, 2, "\r\n") == 0);
    return 0;
}
