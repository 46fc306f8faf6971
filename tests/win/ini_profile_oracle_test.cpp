// The host's INI reader must read a setup information file as the system's
// profile functions do: the real GetPrivateProfileStringA is the oracle.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "installer/ini_text.h"
#include "tests/common/test_util.h"

namespace {

struct Query {
    const char* section;
    const char* key;
    const char* defaultValue;
    uint32_t size;
};

const char* const Files[] = {
    "; comment\r\n[Installation]\r\n  Program =  My Tool  \r\ncopyright=\"(c) 2024 Someone\"\r\n"
    "[Languages]\r\ncount=3\r\nEmpty=\r\nNoEquals\r\n1=English\r\n2=Deutsch,d\r\n",
    "[A]\nk=1\nk=2\n[B]\nk=3\n[a]\nk=4\nother=5\n",
    "[s]\nlong=abcdefghij\nneg=-12\nlead=  42abc\nword=abc\nempty=\nq1='single'\nq2=\"open\nq3=\"\"\n"
    "spaced = a b  c \n\t tab\t=\tv\t\n",
    "lonely=before any section\n[ spaced name ]\nx=1\n[s]\n=novalue\nk==double\n[t]\nlast=3",
    "[x\nk=1\n[y]junk\nk=2\n[z]\rk=3\rj=4\r",
    "[Install]\r\n1=app.ini\r\n2=app.cab\r\n[Installd]\r\n1=deutsch.ini\r\n3=\r\n[Backup data]\r\n1=readme.txt\r\n",
};

const Query Queries[] = {
    {"installation", "PROGRAM", "", 260},  {"Installation", "Copyright", "", 260}, {"languages", "Empty", "d", 260},
    {"languages", "NoEquals", "d", 260},    {"languages", "Missing", "dflt  ", 260}, {"Nowhere", "Program", "x", 260},
    {"a", "k", "", 260},                    {"A", "other", "none", 260},            {"b", "K", "", 260},
    {"s", "long", "", 5},                   {"s", "long", "", 1},                   {"s", "q1", "", 260},
    {"s", "q2", "", 260},                   {"s", "q3", "", 260},                   {"s", "spaced", "", 260},
    {"s", "tab", "", 260},                  {"", "lonely", "no", 260},              {"spaced name", "x", "no", 260},
    {" spaced name ", "x", "no", 260},      {"s", "", "no", 260},                   {"s", "k", "", 260},
    {"t", "last", "", 260},                 {"installd", "3", "?!?!?!", 260},       {"installd", "2", "?!?!?!", 260},
    {"Backup data", "1", "", 260},          {"languages", "2", "", 512},          {" Installation ", " program ", "", 260},
    {"A ", "K", "", 260},                   {"t", "LAST ", "", 260},               {"spaced", "x", "no", 260},
    {"x", "k", "no", 260},                  {"y", "k", "no", 260},                 {"z", "k", "no", 260},
    {"z", "j", "no", 260},
};

const Query IntQueries[] = {
    {"languages", "count", "7", 0}, {"languages", "Empty", "7", 0}, {"languages", "Missing", "7", 0},
    {"s", "neg", "7", 0},           {"s", "lead", "7", 0},          {"s", "word", "7", 0},
    {"languages", "1", "7", 0},
};

TEST(IniProfileOracle, StringsAndIntegersReadAsTheSystemReadsThem) {
    testutil::ScratchDir dir("ini");
    int index = 0;
    for (const char* file : Files) {
        char name[32];
        std::snprintf(name, sizeof name, "f%d.inf", index++);
        std::string path = dir.Join(name);
        ASSERT_TRUE(testutil::WriteFileBytes(path, file));
        IniText ini{file, std::strlen(file)};
        for (const Query& q : Queries) {
            if (*q.key == 0) continue;  // an empty key name lists the section's keys
            char expected[600];
            char actual[600];
            std::memset(expected, '#', sizeof expected);
            std::memset(actual, '#', sizeof actual);
            DWORD n = GetPrivateProfileStringA(q.section, q.key, q.defaultValue, expected, q.size, path.c_str());
            uint32_t m = IniReadString(&ini, q.section, q.key, q.defaultValue, actual, q.size);
            EXPECT_EQ(std::string(actual), std::string(expected))
                << "file " << index - 1 << " [" << q.section << "] " << q.key << " size " << q.size;
            EXPECT_EQ(m, n) << "file " << index - 1 << " [" << q.section << "] " << q.key;
        }
        for (const Query& q : IntQueries) {
            int32_t def = std::atoi(q.defaultValue);
            EXPECT_EQ(IniReadInt(&ini, q.section, q.key, def),
                      static_cast<int32_t>(GetPrivateProfileIntA(q.section, q.key, def, path.c_str())))
                << "file " << index - 1 << " [" << q.section << "] " << q.key;
        }
    }
}

}  // namespace
