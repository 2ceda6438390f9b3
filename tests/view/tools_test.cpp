#include "graphics/errors.h"
#include "view/overlays.h"
#include "view/tools.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace Corvanith::View;

// Logs its activations with what the list said at that moment.
class TLogTool : public TCorvTool {
public:
    TLogTool(std::string Name, std::vector<std::string>& Log) : FName(std::move(Name)), FLog(Log) {}
    QString GetName() const override { return QString::fromStdString(FName); }
    void SetActive(bool Value) override
    {
        TCorvTool::SetActive(Value);
        const TCorvTool* active = Tools()->ActiveTool();
        FLog.push_back(FName + (Value ? "+" : "-") + (active == this ? "=" : ""));
    }

private:
    std::string FName;
    std::vector<std::string>& FLog;
};

class TOtherTool : public TLogTool {
public:
    using TLogTool::TLogTool;
};

class ToolsTest : public testing::Test {
protected:
    TCorvOverlays Overlays;
    TCorvTools List{Overlays};
    std::vector<std::string> Log;
    TLogTool& A = static_cast<TLogTool&>(List.Add(std::make_unique<TLogTool>("a", Log)));
    TOtherTool& B = static_cast<TOtherTool&>(List.Add(std::make_unique<TOtherTool>("b", Log)));
    TLogTool& A2 = static_cast<TLogTool&>(List.Add(std::make_unique<TLogTool>("a2", Log)));
};

TEST_F(ToolsTest, SwitchingDeactivatesTheOldWhileStillActiveThenActivatesTheNew)
{
    EXPECT_EQ(A.Tools(), &List);
    EXPECT_EQ(&List.Overlays(), &Overlays);
    EXPECT_EQ(List.ActiveTool(), nullptr);
    List.SetActiveTool(&A);
    List.SetActiveTool(&A);
    List.SetActiveTool(&B);
    List.SetActiveTool(nullptr);
    List.SetActiveTool(nullptr);
    List.SetActiveTool(&A);
    EXPECT_EQ(Log, (std::vector<std::string>{"a+=", "a-=", "b+=", "b-=", "a+="}));
    EXPECT_TRUE(A.Active());
    EXPECT_FALSE(B.Active());
}

TEST_F(ToolsTest, FindToolMatchesTheExactClassFirstAdded)
{
    EXPECT_EQ(List.FindTool(typeid(TLogTool)), &A);
    EXPECT_EQ(List.FindTool<TOtherTool>(), &B);
    EXPECT_EQ(List.FindTool(typeid(TCorvTool)), nullptr);
    EXPECT_EQ(List.GetCount(), 3);
    EXPECT_EQ(&List.GetItem(2), &A2);
    EXPECT_THROW(List.GetItem(3), Corvanith::ERangeError);
    EXPECT_THROW(Overlays.GetItem(0), Corvanith::ERangeError);
    // Nothing to add is refused and leaves the lists as they were.
    EXPECT_THROW(List.Add(nullptr), Corvanith::EArgumentError);
    EXPECT_THROW(Overlays.Add(nullptr), Corvanith::EArgumentError);
    EXPECT_EQ(List.GetCount(), 3);
    EXPECT_EQ(Overlays.GetCount(), 0);
}

TEST_F(ToolsTest, SelectingAnAbsentClassLeavesNoToolActive)
{
    List.SelectTool(typeid(TOtherTool));
    EXPECT_EQ(List.ActiveTool(), &B);
    List.SelectTool(typeid(TCorvTool));
    EXPECT_EQ(List.ActiveTool(), nullptr);
    EXPECT_EQ(Log, (std::vector<std::string>{"b+=", "b-="}));
}

} // namespace
