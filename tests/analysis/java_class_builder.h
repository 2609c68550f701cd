#pragma once
// Builds the bytes of small class files for the tests: the header and a constant pool.
#include <cstdint>
#include <string>

namespace qm::test {

class ClassFileBuilder {
public:
    explicit ClassFileBuilder(unsigned declaredCount = 0) : declared_(declaredCount) {}
    ClassFileBuilder& Utf8(const std::string& text) {
        pool_ += char(1);
        U16(unsigned(text.size()));
        pool_ += text;
        ++used_;
        return *this;
    }
    ClassFileBuilder& Class(unsigned nameIndex) {
        pool_ += char(7);
        U16(nameIndex);
        ++used_;
        return *this;
    }
    ClassFileBuilder& Long(std::uint64_t v) {
        pool_ += char(5);
        for (int i = 7; i >= 0; --i) pool_ += char((v >> (8 * i)) & 0xFF);
        used_ += 2;
        return *this;
    }
    ClassFileBuilder& NameAndType(unsigned name, unsigned descriptor) {
        pool_ += char(12);
        U16(name);
        U16(descriptor);
        ++used_;
        return *this;
    }
    ClassFileBuilder& Raw(const std::string& bytes) {
        pool_ += bytes;
        return *this;
    }
    std::string Bytes() const {
        std::string out("\xCA\xFE\xBA\xBE\0\0\0\x32", 8);
        unsigned count = declared_ ? declared_ : used_ + 1;
        out += char(count >> 8);
        out += char(count & 0xFF);
        return out + pool_;
    }

private:
    void U16(unsigned v) {
        pool_ += char(v >> 8);
        pool_ += char(v & 0xFF);
    }
    std::string pool_;
    unsigned used_ = 0;
    unsigned declared_;
};

}  // namespace qm::test
