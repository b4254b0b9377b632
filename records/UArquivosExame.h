#pragma once
// The per-exam data files (d.txt and m.txt angle-by-ring tables, a.txt centre, pupil and
// meridian vector) and the per-report text file l.txt: where they lie, how they are written
// and read back. Windows-1252 text with CR LF line ends. Every writer replaces the file
// atomically (temporary file, then rename): a failure leaves the previous file, or none.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>

#include "modules/ModuleContract.h"
#include "platform/Errors.h"

namespace norvix {

// A data file that cannot be written or read, or whose content is in no known layout. The
// text is Portuguese and names the file.
class ArquivoExameError : public Error {
public:
    using Error::Error;
};

// Files larger than this are refused by the readers: a real table is under 100 kB.
inline constexpr qint64 TamanhoMaximoArquivoExame = 8 * 1024 * 1024;

// EXAMES + "/" + patient + "/" + exam + letter + ".txt"; letter is 'd', 'm' or 'a'. Both
// raise ArquivoExameError when the directory setting is empty.
QString CaminhoArquivoExame(int codPaciente, int codExame, char letra);
// LAUDOS + "/" + patient + "/" + report + "l.txt".
QString CaminhoLaudo(const QString& codPaciente, const QString& codLaudo);

// --- Writers (the caller creates the patient directory) ---------------------------------

// d.txt and m.txt with N + 1 values per line, N = infos().NumAneis at this moment (at most
// 32). Raise ArquivoExameError when the file cannot be created or written.
void GravaArquivoD(int codPaciente, int codExame, const TMatrizAngAnel& d);
void GravaArquivoM(int codPaciente, int codExame, const TMatrizAngAnel& m);
// a.txt: centre X and Y rounded, "@", the pupil record, the 360 meridian values.
void GravaArquivoA(int codPaciente, int codExame, const TMatrizAng& meridianos,
                   double centroX, double centroY, const TPupila& pupila);
// l.txt from the five boxes (conditions, right eye, left eye, conclusion, comments), each
// through TextoSemMarcas. Shows "Laudo gravado com sucesso." or "Não foi possível gravar o
// arquivo de laudo." (caption "Informação") and returns whether the file was written (an older
// file of the report that survives a failed write does not count as success).
// Codes that are not plain decimal numbers are refused (they would name another place).
bool GravaLaudo(const QString& codPaciente, const QString& codLaudo,
                const QString& condicoes, const QString& olhoDireito,
                const QString& olhoEsquerdo, const QString& conclusao,
                const QString& comentarios);
// Writes lines as they stand (CR LF each, Windows-1252), atomically; raises like the others.
// The orthokeratology exam copies the module's lines into d.txt and m.txt with it.
void GravaArquivoTexto(const QString& caminho, const QStringList& linhas);

// The file layer under every writer above. The real one writes atomically (temporary file,
// then rename): a failure leaves the previous file, or none, and raises ArquivoExameError.
// Tests install another layer to play a full or read-only disk at a chosen write.
class TCamadaArquivos {
public:
    virtual ~TCamadaArquivos() = default;
    virtual void GravaAtomico(const QString& caminho, const QByteArray& dados);
};
// The layer in use; an installed one is not owned, nullptr restores the real one.
TCamadaArquivos& CamadaArquivos();
void setCamadaArquivos(TCamadaArquivos* camada);

// File contents as the writers produce them.
QByteArray TextoTabela(const TMatrizAngAnel& matriz, int numAneis);
QByteArray TextoMeridianos(const TMatrizAng& meridianos, double centroX, double centroY,
                           const TPupila& pupila);
QByteArray TextoLaudo(const std::array<QString, 5>& caixas);

// --- Readers ----------------------------------------------------------------------------

// 360 lines from linhas[indice + 1] on into the matrix (column c = value c + 1 of the line);
// indice advances by 360. Raises ArquivoExameError when lines are missing or a value is not a
// number ("," or "." as decimal separator).
void LeMatrizAngAnel(const QStringList& linhas, int& indice, TMatrizAngAnel& matriz);

// A d.txt or m.txt content: 360 lines; a line with fewer values leaves the other columns 0,
// values after the 33rd are ignored. Lines after the 360th are ignored.
void LeTabela(const QByteArray& conteudo, TMatrizAngAnel& matriz);

struct TArquivoA {
    double CentroX = 0;
    double CentroY = 0;
    TPupila Pupila = {0, 0, 0, 0};
    TMatrizAng Meridianos = {};
    bool LayoutAntigo = false;  // no "@" line: the pupil record reads as zeros
};
// An a.txt content, current layout (367 lines, line 3 "@") or the older one (362 lines).
void LeMeridianos(const QByteArray& conteudo, TArquivoA& a);

struct TSecoesLaudo {
    // The lines of each section: conditions, right eye, left eye, conclusion, comments.
    std::array<QStringList, 5> Linhas;
    // The lines of section i joined with single blanks.
    QString Texto(int i) const;
};
// An l.txt content: sections end at a line "@"; the last at "@" or "*".
TSecoesLaudo LeLaudo(const QByteArray& conteudo);

// The whole file, refused when missing, unreadable, empty or larger than the limit.
QByteArray LeArquivoDados(const QString& caminho);
void LeArquivoTabela(const QString& caminho, TMatrizAngAnel& matriz);
void LeArquivoA(const QString& caminho, TArquivoA& a);
TSecoesLaudo LeArquivoLaudo(const QString& caminho);

}  // namespace norvix
