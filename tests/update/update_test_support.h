#pragma once
// Helpers of the update library's tests: signed replies, thread counts and the library's start-up.

#include <dirent.h>

#include <string>

#include "md5hex.h"
#include "reply.h"
#include "runtime/byteset.h"
#include "runtime/text.h"

namespace updatetest {

// The signature the update server puts in field 5.
inline std::string Sign(const std::string& product, const std::string& version, const std::string& notes) {
    return update::Md5Hex(rt::ToByteSet(product + version + notes + update::kReplySalt), false, true);
}

// A signed reply body: the four fields, then the signature.
inline std::string SignedReply(const std::string& product, const std::string& version, const std::string& notes,
                               const std::string& address) {
    return product + "&&" + version + "&&" + notes + "&&" + address + "&&" + Sign(product, version, notes);
}

// The number of threads of this process.
inline int ThreadCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++n;
        ::closedir(d);
    }
    return n;
}

}  // namespace updatetest
