#pragma once
// Process-wide fixed settings: every value is assigned once by
// InitializeSettings at start-up, before any window exists, and only read
// afterwards. Before that every value is zero.
#include "graphics/types.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QLockFile;
class QSettings;

namespace Corvanith::IO {
class TCorvFileCache;
class TCorvMruList;
} // namespace Corvanith::IO

namespace Corvanith::Settings {

enum class TBackgroundStyle : uint8_t { Solid = 0, Checkerboard = 1 };

struct TSettings {
    bool UseMultipleThreads = false;
    int32_t PageCaptureWidth = 0;
    bool HideMainFormOnCapture = false;
    Graphics::TCorvColor ViewBackgroundColor1 = 0;
    Graphics::TCorvColor ViewBackgroundColor2 = 0;
    int32_t DocumentViewPadding = 0;
    Graphics::TCorvColor BackgroundColor = 0;
    int32_t BorderWidth = 0;
    Graphics::TCorvColor BorderColor = 0;
    TBackgroundStyle BackgroundStyle = TBackgroundStyle::Solid;
    Graphics::TCorvColor ShadowColor1 = 0;
    Graphics::TCorvColor ShadowColor2 = 0;
    bool ShowShadow = false;
};

// The values in force; all zero until InitializeSettings has run.
const TSettings& Current();

// Assigns the defaults; the view colours are taken from the application
// palette of this moment (button face and dark shadow, made opaque), so later
// palette changes do not reach them. Needs a QGuiApplication.
void InitializeSettings();

inline constexpr const char* ApplicationName = "Corvanith";
inline constexpr const char* RegistryProductName = "Corvanith";
inline constexpr const char* OpenImageFilter =
    "All Images (jpeg, jpg, png, gif, bmp, tiff, tif)|*.jpeg;*.jpg;*.png;*.gif;*.bmp;*.tiff;*.tif|All Files (*.*)|*.*";
inline constexpr const char* BmpDefaultExt = "bmp";
inline constexpr const char* BmpFilter = "BMP Images (bmp)|*.bmp|All Files (*.*)|*.*";

// One of the "Description|pattern;pattern|..." filters above in the form a Qt
// file dialog takes: "Description (pattern pattern);;...". Qt reads the
// patterns from the last parentheses, so they are always appended, and "*.*"
// becomes "*" so names without a dot match too. A description without
// patterns at the end is dropped.
QString FileDialogFilter(const char* Filter);

// ---- Window placement ----

enum class TFormState : uint8_t { fsNormal = 0, fsMinimized = 1, fsMaximized = 2 };

// A window's normal (restored) rectangle in screen pixels and its state.
struct TFormPlacement {
    int32_t Top = 0;
    int32_t Left = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    TFormState State = TFormState::fsNormal;

    friend bool operator==(const TFormPlacement&, const TFormPlacement&) = default;
};

// "software\Corvanith\Forms": one sub-key per window below it.
QString FormsKey();

// The user's own store of window placements.
std::unique_ptr<QSettings> OpenPlacementStore();

// Writes "Top", "Left", "Width", "Height" and "State" as decimal text in the
// sub-key FormName of FormsKey(). Only the main window stores its placement,
// so the state is always written. Throws EArgumentError for an empty name and
// EStreamError when the store cannot be written.
void WriteFormPlacement(QSettings& Store, const QString& FormName, const TFormPlacement& Placement);

// Replaces each field of Placement whose stored value is text holding an
// integer; a missing value, one of another type or one that is no integer
// keeps the field. A width or height below 1 is kept out; of the state only
// the low byte counts, and every state but normal and maximised is kept out:
// a window never starts minimised. The result
// says whether FormName's sub-key existed.
bool ReadFormPlacement(const QSettings& Store, const QString& FormName, TFormPlacement& Placement);

// ---- Data folder, recent documents and file cache ----

inline constexpr int32_t MruCapacity = 7;

// The data folder and what lives in it: the recent-documents list in
// "MruFiles.data" and the file cache in "Cache/" with its "Index.data". A
// cached picture goes when its entry leaves the list (not while loading,
// and not when an entry is replaced by the same source).
//
// The first owner of a folder holds a lock on it for its life; a lock file
// that no living instance holds (left by a crash) is taken over, and so is
// whatever else lies in its place when it can be cleared. A second
// owner (another instance of the program) works with what it read but
// replaces neither file and deletes only the cache files it made itself.
// Whatever a run cached is kept only when both files are replaced, so that
// the index never lists a picture no recent entry can reach.
class TDataFiles {
public:
    // ApplicationDataFolder + "/" + ApplicationName + "/" and its "Cache/"
    // are made when missing, the folder is locked when no other owner holds
    // it, then the list and the cache are loaded; a data file that cannot be
    // read leaves its list or cache empty, and is not replaced by Save.
    explicit TDataFiles(const QString& ApplicationDataFolder);
    TDataFiles(const TDataFiles&) = delete;
    TDataFiles& operator=(const TDataFiles&) = delete;
    // Nothing is saved and no cached picture is deleted.
    ~TDataFiles();

    // Both end with "/".
    const QString& ApplicationDataPath() const { return FApplicationDataPath; }
    const QString& CachePath() const { return FCachePath; }
    QString MruFileName() const;
    QString IndexFileName() const;
    IO::TCorvMruList& MruList() { return *FMruList; }
    IO::TCorvFileCache& FileCache() { return *FFileCache; }

    // Whether this owner holds the folder's lock.
    bool OwnsFolder() const { return FLock != nullptr; }
    // For the user, when the lock could not be taken although no living
    // instance holds it (something in its place that cannot be cleared, a
    // folder that cannot be written); empty otherwise.
    const QString& LockFailure() const { return FLockFailure; }

    // Makes the folders again (they may have gone meanwhile) and replaces
    // both files, when this owner may; both are tried, then the first
    // failure is thrown as EStreamError. The cache files this run made go
    // when either file is not replaced.
    void Save();

private:
    QString FApplicationDataPath;
    QString FCachePath;
    std::unique_ptr<QLockFile> FLock;
    QString FLockFailure;
    std::unique_ptr<IO::TCorvFileCache> FFileCache;
    std::unique_ptr<IO::TCorvMruList> FMruList;
    bool FKeepMruFile = false;
    bool FKeepIndexFile = false;
};

// The program's data files from start-up to shutdown, in the user's roaming
// application-data folder (at the root when there is none).
void InitializeDataFiles();
// Saves and frees them; EStreamError when saving failed (they are freed all
// the same).
void FinalizeDataFiles();
// Only between the two: EArgumentError otherwise.
TDataFiles& DataFiles();

} // namespace Corvanith::Settings
