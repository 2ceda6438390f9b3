#pragma once
// Tools: the mouse modes of the document view. The view hands the mouse
// events over the picture to the active tool of its tool list; activating a
// tool deactivates the one before. There is no mouse-up: a tool looks at the
// Left flag of the shift state.
#include <QString>

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <vector>

namespace Corvanith::View {

class TCorvOverlays;
class TCorvTools;

// The keys and mouse buttons held at an event.
using TShiftState = uint32_t;
inline constexpr TShiftState ssShift = 1;
inline constexpr TShiftState ssAlt = 2;
inline constexpr TShiftState ssCtrl = 4;
inline constexpr TShiftState ssLeft = 8;
inline constexpr TShiftState ssRight = 16;
inline constexpr TShiftState ssMiddle = 32;

// X and Y are client coordinates of the view; DocX and DocY the picture
// column and row under the cursor.
class TCorvTool {
public:
    TCorvTool() = default;
    TCorvTool(const TCorvTool&) = delete;
    TCorvTool& operator=(const TCorvTool&) = delete;
    virtual ~TCorvTool() = default;

    virtual QString GetName() const = 0;
    virtual void SetActive(bool Value);
    virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY);
    virtual void MouseDown(TShiftState Shift, int32_t X, int32_t Y, int32_t DocX, int32_t DocY);
    virtual void MouseEnter(TShiftState Shift, int32_t X, int32_t Y);
    virtual void MouseLeave(TShiftState Shift, int32_t X, int32_t Y);
    virtual void UpdateCursor(int32_t X, int32_t Y);

    bool Active() const { return FActive; }
    // The list that holds the tool; null before it is added.
    TCorvTools* Tools() const { return FTools; }

private:
    friend class TCorvTools;
    bool FActive = false;
    TCorvTools* FTools = nullptr;
};

// Names a tool class; compared by identity.
using TCorvToolClass = std::type_info;

// Owns its tools; at most one is active.
class TCorvTools {
public:
    explicit TCorvTools(TCorvOverlays& Overlays) : FOverlays(Overlays) {}
    TCorvTools(const TCorvTools&) = delete;
    TCorvTools& operator=(const TCorvTools&) = delete;

    // A null Tool throws EArgumentError.
    TCorvTool& Add(std::unique_ptr<TCorvTool> Tool);
    int32_t GetCount() const { return int32_t(FList.size()); }
    // Out of range throws ERangeError.
    TCorvTool& GetItem(int32_t Index) const;
    // The first tool of exactly that class (not a derived one), or null.
    TCorvTool* FindTool(const TCorvToolClass& ToolClass) const;
    template <typename T>
    T* FindTool() const
    {
        return static_cast<T*>(FindTool(typeid(T)));
    }
    // The old tool is deactivated while still active, the new one activated
    // once it is; Tool may be null.
    void SetActiveTool(TCorvTool* Tool);
    void SelectTool(const TCorvToolClass& ToolClass) { SetActiveTool(FindTool(ToolClass)); }

    TCorvOverlays& Overlays() const { return FOverlays; }
    TCorvTool* ActiveTool() const { return FActiveTool; }

private:
    TCorvOverlays& FOverlays;
    std::vector<std::unique_ptr<TCorvTool>> FList;
    TCorvTool* FActiveTool = nullptr;
};

} // namespace Corvanith::View
