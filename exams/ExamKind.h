#pragma once
// What differs between the kinds of exam the new-exam window makes: the modules each step
// calls, the data an eye holds between the steps and what storing writes. The window keeps
// the steps, the eyes' columns and the messages; a new kind of exam is one more class here.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace norvix {

class TArquivosNovos;
struct TExameNovo;

// A step's result; message, when not empty, is what the operator is told of a failure.
struct StepOutcome {
    bool ok = false;
    QString message;
};

// The capture's result, with the bitmap the eye's panel shows (the first capture's).
struct CaptureOutcome : StepOutcome {
    QByteArray shown;
};

class ExamKind {
public:
    enum class Id { Topography, Orthokeratology };
    // The eye's front and side images, when given instead of the capture module's.
    using GivenCapture = std::optional<std::array<QByteArray, 2>>;
    // The exam header the map modules read, for a capture's confidence index.
    using Header = std::function<QStringList(double confidence)>;

    virtual ~ExamKind() = default;

    // " - Ortoceratologia" and the like, after the window's title.
    virtual QString titleSuffix() const = 0;
    // Whether the operator chooses the map (axial or tangential); otherwise the kind's
    // multi-map is shown.
    virtual bool choosesMap() const = 0;
    // The lines a map module reads after the common header, for a confidence and the database.
    virtual QStringList headerTail(const QString& confidence, const QString& database) const = 0;

    // window: the module's parent; eye: the capture module's index (0 left, 1 right).
    virtual CaptureOutcome capture(void* window, int eye, const GivenCapture& given) = 0;
    virtual StepOutcome detect(void* window, int eye) = 0;
    // mapModule: the map module's file; whether the module was shown.
    virtual bool showMap(void* window, int eye, const QString& mapModule, const Header& header) = 0;
    virtual bool readyToStore(int eye) const = 0;
    // Within the caller's all-or-nothing save, the eye's exam rows with their files; storing
    // chooses each row's date and time. Whether the images were stored too.
    virtual bool store(int eye, TExameNovo row, TArquivosNovos& arquivos) = 0;
    // The code of the exam the eye's last store wrote, once its save is committed, for what
    // follows a save (sending it to the PACS); 0 when the kind keeps no single exam.
    virtual int storedExam(int /*eye*/) const { return 0; }
    virtual void clear(int eye) = 0;
};

std::unique_ptr<ExamKind> makeExamKind(ExamKind::Id id);

// The message of a processing module's output that cannot be stored.
QString invalidMeasuresMessage(const QString& problem);
// Why a capture module's image cannot be used; empty when it can.
QString bitmapProblem(const QByteArray& bitmap);

}  // namespace norvix
