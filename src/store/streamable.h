#pragma once
// The root classes of everything that is written to and read from an object stream.
#include <string>

namespace qm::store {

class ObjectStream;

// Type codes written in the "Type" key of each object section.
enum TypeCode : int {
    kTypeProject = 0,
    kTypeFolder = 1,
    kTypeGetRec = 2,
    kTypeBareClass = 32767,
    kTypeBareClassAlt = 65535,
};

// Kind codes of tree objects.
enum KindCode : int { kKindFolder = 101, kKindProject = 102 };

class StreamObject {
public:
    virtual ~StreamObject() = default;
    virtual void Load(ObjectStream& stream) { (void)stream; }
    virtual void Save(ObjectStream& stream) { (void)stream; }
};

class TreeItem : public StreamObject {
public:
    int Kind = 0;
    std::string Caption;
};

}  // namespace qm::store
