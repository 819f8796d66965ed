#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

struct ProbeRun {
    int exit_code;
    std::string output;
};

ProbeRun run_probe(const char* mode) {
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(QUILLON_STARTUP_PROBE), {QString::fromLatin1(mode)});
    if (!probe.waitForFinished(30000)) {
        probe.kill();
        probe.waitForFinished();
        return {-1, "probe did not finish"};
    }
    return {probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -2,
            probe.readAllStandardOutput().toStdString()};
}

TEST(StartUp, FailureWhileStartingIsShownInTheErrorBoxThenTheProgramEndsWithZero) {
    const ProbeRun run = run_probe("fail");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output,
              "box: Quillon Download Code to TR-518|Window could not be built.|3\n"
              "exit code: 0\n");
}

TEST(StartUp, ExitFromTheShownWindowEndsTheEventLoopWithZero) {
    const ProbeRun run = run_probe("exit");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.output, "shown: Transfer Code to TR-518 or TR-760\nexit code: 0\n");
}

}  // namespace
