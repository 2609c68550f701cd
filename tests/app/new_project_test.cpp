// New Projects from typed and pasted addresses.
#include <gtest/gtest.h>

#include "app/new_project.h"
#include "store/defaults_project.h"

namespace qm::app {
namespace {

TEST(NewProject, TypedAddressRules) {
    EXPECT_EQ(NormaliseTypedAddress("example.test"), "http://example.test");
    EXPECT_EQ(NormaliseTypedAddress("HTTP://Example.test/"), "HTTP://Example.test/");
    EXPECT_EQ(NormaliseTypedAddress("File://c:/x"), "File://c:/x");
    EXPECT_EQ(NormaliseTypedAddress("file:///home/me/a.htm"), "file://home/me/a.htm");
    EXPECT_EQ(NormaliseTypedAddress("host\\dir\\a?b\\c"), "http://host/dir/a?b\\c");
    EXPECT_EQ(NormaliseTypedAddress(""), "http://");
    EXPECT_EQ(NormaliseTypedAddress("ftp://h/"), "ftp://h/");
    EXPECT_EQ(NormaliseTypedAddress("gopher://h/"), "http://gopher://h/");
}

TEST(NewProject, PastedAddressLosesLineBreaksBeforeTheQuery) {
    EXPECT_EQ(NormalisePastedAddress("http://host/pa\r\nth?q=1\r\n2"), "http://host/path?q=1\r\n2");
    EXPECT_EQ(NormalisePastedAddress("host\\a\n"), "http://host/a");
}

TEST(NewProject, TakesTheSettingsAndTheNextIdentifier) {
    store::ProjectTree tree;
    tree.NextID = 5;
    store::ProjectFolder& f = tree.AddFolder("F");
    store::Project settings;
    store::ResetToBuiltInDefaults(settings);
    settings.Lev = 3;
    settings.Caption = "typed caption";
    store::Project& p = NewProject(tree, f, settings, "host/x");
    EXPECT_EQ(p.IID, 5);
    EXPECT_EQ(tree.NextID, 6);
    EXPECT_EQ(p.URL, "http://host/x");
    EXPECT_EQ(p.Caption, "typed caption");
    EXPECT_EQ(p.Lev, 3);
    EXPECT_EQ(p.Img, "Yes");
    EXPECT_EQ(p.StatusText, "Ready");
    EXPECT_EQ(p.Folder, &f);
    store::Project& q = PasteAddress(tree, f, settings, "other\r\n/y");
    EXPECT_EQ(q.IID, 6);
    EXPECT_EQ(q.Caption, "http://other/y");
    EXPECT_EQ(q.URL, "http://other/y");
    EXPECT_EQ(f.Children.size(), 2u);
}

}  // namespace
}  // namespace qm::app
