#pragma once

#include <QTest>

#include <cstdio>
#include <grp.h>
#include <unistd.h>

namespace regbench::tests {

// The main of a test that emulates devices with umockdev. Outside umockdev's wrapper nothing is emulated and
// the test is skipped (exit code 77, which CTest counts as skipped). Root ignores file modes, so a test of
// permissions gives root's rights away first.
template <typename Application, typename Test> int runEmulated(int argc, char** argv, bool asNobody = false) {
    if (!qgetenv("LD_PRELOAD").contains("libumockdev-preload")) {
        std::fputs("Not under umockdev-wrapper: skipped\n", stderr);
        return 77;
    }
    constexpr uid_t Nobody = 65534;
    if (asNobody && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0)) {
        std::perror("cannot give up root's rights");
        return 1;
    }
    Application application(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace regbench::tests
