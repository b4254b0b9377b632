#pragma once
// The loader of one exam's data files (m.txt, d.txt, a.txt) into the matrices the map
// modules take. One instance for the process, made with the main window; the report phrases
// and the exam browser both read the exam loaded last.
#include <QString>
#include <array>

#include "modules/ModuleContract.h"

namespace norvix {

class TBMapOperation {
public:
    TBMapOperation();   // becomes the instance MapOperation() returns
    ~TBMapOperation();
    TBMapOperation(const TBMapOperation&) = delete;
    TBMapOperation& operator=(const TBMapOperation&) = delete;

    // Sets the three file names from the prefix (exams folder/patient/exam, or an example's
    // folder and name), then reads m, d and a in this order and stops at the first failure.
    // A missing file shows "Arquivo m.txt não encontrado!" (and so on; caption "Erro"), any
    // other fault the reader's message, unless quiet. On failure the values of the exam
    // loaded before are kept whole; *error (when given) receives the text.
    bool Load(const QString& prefix, bool quiet = false, QString* error = nullptr);

    double CentroX() const { return centroX_; }
    double CentroY() const { return centroY_; }
    void CopiaD(TMatrizAngAnel& out) const;
    void CopiaM(TMatrizAngAnel& out) const;
    void CopiaMeridianos(TMatrizAng& out) const;
    void CopiaPupila(TPupila& out) const;
    // The values in place (the map calls read them without a copy).
    const TMatrizAngAnel& D() const { return data_->d; }
    const TMatrizAngAnel& M() const { return data_->m; }
    const TMatrizAng& Meridianos() const { return data_->meridianos; }
    const TPupila& Pupila() const { return data_->pupila; }

    const QString& ArquivoM() const { return fileM_; }
    const QString& ArquivoD() const { return fileD_; }
    const QString& ArquivoA() const { return fileA_; }

    // "43.25" and "43,25" both read as 43.25, whatever the separator; raises ConversionError.
    static double ToFloat(const QString& text);

private:
    struct Data {
        TMatrizAngAnel d;
        TMatrizAngAnel m;
        TMatrizAng meridianos;
        TPupila pupila;
    };
    std::unique_ptr<Data> data_;  // 190 kB: kept off the stack and the window objects
    double centroX_ = 0, centroY_ = 0;
    QString fileM_, fileD_, fileA_;
};

// The process-wide loader; raises norvix::Error when none exists.
TBMapOperation& MapOperation();
bool hasMapOperation();

}  // namespace norvix
