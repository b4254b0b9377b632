#pragma once
// The orthokeratology exam: four captures per eye, detected together by the orthokeratology
// processing module, shown on its multi-map and stored as four exams.
#include <QStringList>
#include <array>
#include <memory>

#include "ExamKind.h"
#include "modules/ModuleContract.h"
#include "records/ExameNovo.h"

namespace norvix {

class OrthokeratologyExam final : public ExamKind {
public:
    QString titleSuffix() const override { return QStringLiteral(" - Ortoceratologia"); }
    bool choosesMap() const override { return false; }
    QStringList headerTail(const QString& confidence, const QString& database) const override {
        return {confidence, database};
    }
    CaptureOutcome capture(void* window, int eye, const GivenCapture& given) override;
    StepOutcome detect(void* window, int eye) override;
    bool showMap(void* window, int eye, const QString& mapModule, const Header& header) override;
    bool readyToStore(int eye) const override;
    bool store(int eye, TExameNovo row, TArquivosNovos& arquivos) override;
    void clear(int eye) override;

    // The four confidence indexes after ring detection.
    std::array<double, 4> confidences(int eye) const { return eyes_[size_t(eye)].confidences; }

private:
    struct Eye {
        std::array<QByteArray, 4> captures, extras;
        // After detection: the module's table lines, the parsed tables and values.
        std::array<double, 4> confidences{};
        QStringList linesM, linesD;
        std::unique_ptr<TMatrizAngAnel[]> m, d;  // four each
        TTabelaOrto table{};                     // per capture: Sag, Div, Raio, fourth
    };
    std::array<Eye, 2> eyes_;
};

}  // namespace norvix
