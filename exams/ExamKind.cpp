#include "ExamKind.h"

#include "OrthokeratologyExam.h"
#include "TopographyExam.h"
#include "records/UBJpeg.h"

namespace norvix {

std::unique_ptr<ExamKind> makeExamKind(ExamKind::Id id) {
    switch (id) {
        case ExamKind::Id::Orthokeratology: return std::make_unique<OrthokeratologyExam>();
        case ExamKind::Id::Topography: break;
    }
    return std::make_unique<TopographyExam>();
}

QString invalidMeasuresMessage(const QString& problem) {
    return QStringLiteral(
               "O módulo de processamento devolveu medidas inválidas: %1. O exame não pode ser "
               "gravado com elas; detecte os anéis novamente ou digitalize outra imagem.")
        .arg(problem);
}

QString bitmapProblem(const QByteArray& bitmap) {
    try {
        LeBitmapWindows(bitmap);
        return {};
    } catch (const BitmapError& e) {
        return e.message();
    }
}

}  // namespace norvix
