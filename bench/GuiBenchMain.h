#pragma once

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

// The main of a benchmark of widgets: the offscreen platform, and a settings folder of its own
// (views save their layouts when they go; that stays out of the user's own settings).
inline int RunGuiBenchmarks(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
