#pragma once
// The topography exam: one capture per eye, its rings detected by the processing module, the
// axial or tangential map, one exam stored per eye.
#include <array>
#include <memory>

#include "ExamKind.h"
#include "records/ExameNovo.h"

namespace norvix {

class TopographyExam final : public ExamKind {
public:
    QString titleSuffix() const override { return {}; }
    bool choosesMap() const override { return true; }
    QStringList headerTail(const QString& confidence, const QString& database) const override;
    CaptureOutcome capture(void* window, int eye, const GivenCapture& given) override;
    StepOutcome detect(void* window, int eye) override;
    bool showMap(void* window, int eye, const QString& mapModule, const Header& header) override;
    bool readyToStore(int eye) const override { return bool(eyes_[size_t(eye)].measure); }
    bool store(int eye, TExameNovo row, TArquivosNovos& arquivos) override;
    int storedExam(int eye) const override { return eyes_[size_t(eye)].stored; }
    void clear(int eye) override;

    // The eye's measure after ring detection, or null.
    const TMedidaOlho* measure(int eye) const { return eyes_[size_t(eye)].measure.get(); }

private:
    struct Eye {
        QByteArray front, side;                // the last capture
        std::unique_ptr<TMedidaOlho> measure;  // the last detection
        int stored = 0;                        // the exam the last store wrote
    };
    std::array<Eye, 2> eyes_;
};

}  // namespace norvix
