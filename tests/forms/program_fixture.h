#pragma once
// The program started as its entry starts it, with the data folder and the
// stored window placements in a temporary folder of the test's own.
#include "forms/startup.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

class ProgramTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FAppData.isValid());
        // The user's application-data folder and settings store, for this test.
        FHadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        FOldDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", FAppData.path().toLocal8Bit());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FAppData.path() + "/settings");
        Corvanith::Forms::StartProgram();
    }
    void TearDown() override
    {
        if (FStarted)
            Corvanith::Forms::EndProgram();
        if (FHadDataHome)
            qputenv("XDG_DATA_HOME", FOldDataHome);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    // Ends the program here instead of at the end of the test.
    void EndProgram()
    {
        Corvanith::Forms::EndProgram();
        FStarted = false;
    }

    QString AppDataPath() const { return FAppData.path() + "/Corvanith/"; }
    QString TempPath() const { return FAppData.path(); }

private:
    QTemporaryDir FAppData;
    bool FHadDataHome = false;
    QByteArray FOldDataHome;
    bool FStarted = true;
};
