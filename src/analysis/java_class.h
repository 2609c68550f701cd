#pragma once
// Names a compiled Java class refers to: classes of its own package and files it may load,
// read from the class file's constant pool.
#include <cstddef>
#include <string>
#include <vector>

namespace qm::analysis {

struct JavaClassNames {
    std::vector<std::string> classNames;   // sorted, without duplicates
    std::vector<std::string> fileStrings;  // sorted, without duplicates
};

// Never reads outside [data, data + length); a file without the class signature gives nothing.
JavaClassNames ReadJavaClassNames(const unsigned char* data, std::size_t length);

}  // namespace qm::analysis
