#include "view/tools.h"

#include "document/document.h"
#include "graphics/errors.h"

#include <typeindex>

namespace Corvanith::View {

void TCorvTool::SetActive(bool Value)
{
    if (Value != FActive)
        FActive = Value;
}

void TCorvTool::MouseMove(TShiftState, int32_t, int32_t, int32_t, int32_t) {}
void TCorvTool::MouseDown(TShiftState, int32_t, int32_t, int32_t, int32_t) {}
void TCorvTool::MouseEnter(TShiftState, int32_t, int32_t) {}
void TCorvTool::MouseLeave(TShiftState, int32_t, int32_t) {}
void TCorvTool::UpdateCursor(int32_t, int32_t) {}

TCorvTool& TCorvTools::Add(std::unique_ptr<TCorvTool> Tool)
{
    if (!Tool)
        throw EArgumentError("No tool to add.");
    FList.push_back(std::move(Tool));
    FList.back()->FTools = this;
    return *FList.back();
}

TCorvTool& TCorvTools::GetItem(int32_t Index) const { return Document::ListItem(FList, Index); }

TCorvTool* TCorvTools::FindTool(const TCorvToolClass& ToolClass) const
{
    for (const auto& tool : FList)
        if (std::type_index(typeid(*tool)) == std::type_index(ToolClass))
            return tool.get();
    return nullptr;
}

void TCorvTools::SetActiveTool(TCorvTool* Tool)
{
    if (Tool == FActiveTool)
        return;
    if (FActiveTool != nullptr)
        FActiveTool->SetActive(false);
    FActiveTool = Tool;
    if (Tool != nullptr)
        Tool->SetActive(true);
}

} // namespace Corvanith::View
