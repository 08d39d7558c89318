// songtool: assembles, disassembles, checks and describes song data.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <sstream>

#include "songtool.h"

namespace {

// All of `text` to standard output; false with errno set when it fails.
bool write_standard_output(const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    // A file-size limit then fails a write, which is reported, instead of
    // killing the program halfway through a file.
    std::signal(SIGXFSZ, SIG_IGN);
    // The listing is written in one go at the end, so that a failed write
    // is seen with its reason.
    std::ostringstream out;
    const int status = songtool_main(std::vector<std::string>(argv + 1, argv + argc), out, std::cerr);
    if (write_standard_output(out.str())) return status;
    std::cerr << "songtool: cannot write standard output: " << std::strerror(errno) << '\n';
    return 1;
}
