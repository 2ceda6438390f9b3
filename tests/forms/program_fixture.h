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
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, FAppData.path() + "/settings");
        Corvanith::Forms::StartProgram(FAppData.path());
    }
    void TearDown() override
    {
        if (FStarted)
            Corvanith::Forms::EndProgram();
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
    bool FStarted = true;
};
