#include "io/settings.h"

#include "graphics/errors.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

namespace {

using namespace Corvanith;
using namespace Corvanith::Settings;

// A store in a file of its own, never the user's.
class PlacementStoreTest : public testing::Test {
protected:
    QString StoreFile() const { return FDir.filePath(QStringLiteral("placement.ini")); }
    std::unique_ptr<QSettings> OpenStore() const
    {
        return std::make_unique<QSettings>(StoreFile(), QSettings::IniFormat);
    }
    void Put(const QString& Name, const QVariant& Value)
    {
        OpenStore()->setValue(QStringLiteral("software/Corvanith/Forms/MainForm/") + Name, Value);
    }

    QTemporaryDir FDir;
    const TFormPlacement FPresent{10, 20, 300, 200, TFormState::fsNormal};
};

TEST_F(PlacementStoreTest, KeyIsTheProductsFormsKey)
{
    EXPECT_EQ(FormsKey(), QStringLiteral("software\\Corvanith\\Forms"));
}

TEST_F(PlacementStoreTest, WritesDecimalTextThatReadsBack)
{
    const TFormPlacement stored{-30, 1930, 1024, 700, TFormState::fsMaximized};
    WriteFormPlacement(*OpenStore(), QStringLiteral("MainForm"), stored);

    const auto store = OpenStore();
    for (const auto& [name, text] : {std::pair{"Top", "-30"}, {"Left", "1930"}, {"Width", "1024"},
                                     {"Height", "700"}, {"State", "2"}}) {
        const QVariant value = store->value(QStringLiteral("software/Corvanith/Forms/MainForm/") + name);
        EXPECT_EQ(value.typeId(), QMetaType::QString) << name;
        EXPECT_EQ(value.toString(), QString::fromUtf8(text)) << name;
    }
    TFormPlacement read = FPresent;
    EXPECT_TRUE(ReadFormPlacement(*store, QStringLiteral("MainForm"), read));
    EXPECT_EQ(read, stored);
}

TEST_F(PlacementStoreTest, FirstRunKeepsThePresentPlacement)
{
    WriteFormPlacement(*OpenStore(), QStringLiteral("OtherForm"), {1, 2, 3, 4, TFormState::fsNormal});
    TFormPlacement read = FPresent;
    EXPECT_FALSE(ReadFormPlacement(*OpenStore(), QStringLiteral("MainForm"), read));
    EXPECT_EQ(read, FPresent);
}

TEST_F(PlacementStoreTest, UnusableValuesKeepThePresentOnes)
{
    Put(QStringLiteral("Top"), QStringLiteral("  $40"));
    Put(QStringLiteral("Left"), 77); // not text
    Put(QStringLiteral("Width"), QStringLiteral("wide"));
    Put(QStringLiteral("Height"), QStringLiteral("0"));
    TFormPlacement read = FPresent;
    EXPECT_TRUE(ReadFormPlacement(*OpenStore(), QStringLiteral("MainForm"), read));
    EXPECT_EQ(read, (TFormPlacement{64, 20, 300, 200, TFormState::fsNormal}));
}

TEST_F(PlacementStoreTest, OnlyNormalAndMaximisedStatesAreTaken)
{
    struct Case {
        const char* Stored;
        TFormState Present;
        TFormState Expected;
    };
    const Case cases[] = {
        {"0", TFormState::fsMaximized, TFormState::fsNormal},
        {"2", TFormState::fsNormal, TFormState::fsMaximized},
        {"1", TFormState::fsNormal, TFormState::fsNormal},       // never starts minimised
        {"1", TFormState::fsMaximized, TFormState::fsMaximized},
        {"3", TFormState::fsNormal, TFormState::fsNormal},
        {"258", TFormState::fsNormal, TFormState::fsMaximized},  // only the low byte counts
        {"513", TFormState::fsMaximized, TFormState::fsMaximized}, // low byte 1: never minimised
        {"-254", TFormState::fsNormal, TFormState::fsMaximized},
        {"-2", TFormState::fsNormal, TFormState::fsNormal},      // low byte outside the three states
        {"$103", TFormState::fsNormal, TFormState::fsNormal},
        {"max", TFormState::fsNormal, TFormState::fsNormal},
    };
    for (const Case& c : cases) {
        Put(QStringLiteral("State"), QString::fromUtf8(c.Stored));
        TFormPlacement read = FPresent;
        read.State = c.Present;
        ReadFormPlacement(*OpenStore(), QStringLiteral("MainForm"), read);
        EXPECT_EQ(read.State, c.Expected) << c.Stored;
    }
}

TEST_F(PlacementStoreTest, RefusesAWindowWithoutAName)
{
    TFormPlacement read = FPresent;
    EXPECT_THROW(WriteFormPlacement(*OpenStore(), QString(), FPresent), EArgumentError);
    EXPECT_THROW(ReadFormPlacement(*OpenStore(), QString(), read), EArgumentError);
}

TEST_F(PlacementStoreTest, AStoreThatCannotBeWrittenIsReported)
{
    // A folder where the file should be.
    ASSERT_TRUE(QDir(FDir.path()).mkdir(QStringLiteral("placement.ini")));
    EXPECT_THROW(WriteFormPlacement(*OpenStore(), QStringLiteral("MainForm"), FPresent), EStreamError);
}

} // namespace
