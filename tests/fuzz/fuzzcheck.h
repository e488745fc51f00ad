#pragma once

#include <cstdio>
#include <cstdlib>

#include <QString>

// A broken property ends the run like a crash, so that libFuzzer keeps the input that broke it.
inline void fuzzCheck(bool holds, const char *property, const QString &detail = QString())
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n%s\n", property, detail.toUtf8().constData());
    std::abort();
}
