#pragma once
// Storing a new exam: the exam row, its code found again by patient, doctor, date and time,
// the d, m and a files, the JPEG-packed images, the orthokeratology values and the patient's
// last exam and exam count. The new-exam window stores exams with it, and so do the clinic
// tools. GravaTudoOuNada makes everything one save writes stand or fall together.
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>

#include "modules/ModuleContract.h"

namespace norvix {

// One eye of a topography exam as the processing step leaves it.
struct TMedidaOlho {
    QByteArray frente;   // the capture module's bitmap file
    QByteArray lateral;  // empty when the capture module wrote none
    double centroX = 0, centroY = 0;
    TMatrizAngAnel m{};
    TMatrizAngAnel d{};
    TMatrizAng meridianos{};
    TPupila pupila{};
    double indConf = 0;
};

// Why a processing module's result must not be stored (a value that is not a number, a
// negative radius or distance, a ring count per meridian outside 0..NORVIX_MAX_RINGS); the
// empty text when it may. The map modules and every later reader trust these values.
QString ProblemaNaMedida(const TMedidaOlho& medida);
QString ProblemaNasMatrizes(const TMatrizAngAnel& m, const TMatrizAngAnel& d);

// The measure made what its files will hold (values to the files' two decimals, the rings of
// infos().NumAneis, the centre to whole pixels): the maps shown while the exam is taken are
// then the maps of the stored exam, figure for figure.
void ComoGravada(TMedidaOlho& medida);

struct TExameNovo {
    int paciente = 0;
    int medico = 0;
    QDate data;
    QTime hora;
    QString olho;  // "OD" or "OS"
    QString diag;
    QString observacao;
};

// What one save put on disk, so that a save that fails takes it away again (and only it).
class TArquivosNovos {
public:
    // Creates the folder with any missing parents, remembering the ones it made. Raises
    // ArquivoExameError when it cannot.
    void criaPasta(const QString& pasta);
    // Raises ArquivoExameError when the file exists: an exam file is never replaced.
    void reserva(const QString& caminho);
    // Removes the files reserved, then the folders made (a folder only when empty).
    void removeTodos();

private:
    QStringList arquivos_;
    QStringList pastas_;  // outermost first
};

// The text ULTIMOEXAME takes after a new exam: "OD dd/MM/yyyy HH:mm:ss".
QString TextoUltimoExame(const QString& olho, const QDate& data, const QTime& hora);

// The code of the exam of that patient and doctor at that date and time (0 when none).
int CodigoDoExame(int paciente, int medico, const QDate& data, const QTime& hora);

// A topography exam in the current transaction: the row (type "T", the ring count and cone
// type of the configuration record), its code, the patient's folder and files, the images
// the settings keep (sImagemCentral, sImagemLateral, QualidadeImagem) and the counters (the
// patient's row held first, TOTALEXAMES counted from the rows).
// Returns the code. An image that is not empty but cannot be packed is stored empty and
// clears *imagensEmpacotadas (when given); an empty image is stored empty without more ado.
int GravaExameTopografia(const TExameNovo& exame, const TMedidaOlho& olho, TArquivosNovos& arquivos,
                         bool* imagensEmpacotadas = nullptr);
// Only the folder, files and images of the above, for an exam row that exists.
void GravaArquivosDoExame(int paciente, int codigo, const TMedidaOlho& olho, TArquivosNovos& arquivos,
                          bool* imagensEmpacotadas = nullptr);

// One capture of an orthokeratology exam as the orthokeratology processing module left it.
struct TCapturaOrto {
    QStringList linhasM, linhasD;  // its 360 table lines, copied unchanged into m.txt and d.txt
    double sag = 0, div = 0, raio = 0;
    double indConf = 0;
};
// An orthokeratology exam (type "O") in the current transaction: the row, its code, the
// values rounded to four decimals, the files (a.txt with the centre of the frame, a zero pupil
// record and the ring count on every meridian) and the counters. Returns the code.
int GravaExameOrto(const TExameNovo& exame, const TCapturaOrto& captura, TArquivosNovos& arquivos);

// The clock of new exams; tests install one of their own.
class TRelogio {
public:
    virtual ~TRelogio() = default;
    virtual QDateTime Agora();
    virtual void Espera(int ms);
};
TRelogio& Relogio();
void setRelogio(TRelogio* relogio);  // not owned; nullptr restores the system clock

// The moment, to the whole second, for a new exam of the patient: now or, when an exam of the
// patient is already stored at this second, the next free second, waited for. Date and time
// then tell the patient's exams apart, as the code lookup above and the exam browser's lookup
// by caption need.
QDateTime MomentoLivre(int paciente);

// Runs grava in one transaction with a list of what it puts on disk: commits when it
// returns; on any error rolls back, removes those files and folders and raises the error
// again, so that the database and the exams folder are as they were. A patient row held by
// another workstation makes it try again for about two seconds (TDMPrincipal::runBatch), then
// raise DatabaseError::Kind::LockConflict with nothing written, for the caller to offer a retry.
void GravaTudoOuNada(const std::function<void(TArquivosNovos&)>& grava);

}  // namespace norvix
