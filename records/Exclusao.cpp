#include "Exclusao.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include "FbCursor.h"
#include "UArquivosExame.h"
#include "UDLagrima.h"
#include "UDLaudos.h"
#include "UDPacientes.h"
#include "UDPedidosRis.h"
#include "UDVisitasDicom.h"
#include "UfrmDataModule.h"

namespace norvix {

namespace {

QList<int> codigos(const QString& sql, const FbParams& params) {
    TDMPrincipal& dm = DMPrincipal();
    FbQuery& q = dm.openQuery(dm.IBOperation, sql, params);
    QList<int> out;
    for (; !q.eof(); q.next()) out << q.asInt(QStringLiteral("CODIGO"));
    q.close();
    return out;
}

void remove(const QString& caminho, QStringList& naoRemovidos) {
    if (QFile::exists(caminho) && !QFile::remove(caminho)) naoRemovidos << caminho;
}

void removeLaudos(int paciente, const QList<int>& laudos, QStringList& naoRemovidos) {
    if (laudos.isEmpty()) return;
    const QString p = QString::number(paciente);
    for (int laudo : laudos) remove(CaminhoLaudo(p, QString::number(laudo)), naoRemovidos);
    // The patient's folder of reports goes only when nothing else is in it.
    QDir().rmdir(QFileInfo(CaminhoLaudo(p, QStringLiteral("0"))).absolutePath());
}

QMap<int, OuvinteExclusao>& ouvintes() {
    static QMap<int, OuvinteExclusao> todos;
    return todos;
}

// After the commit: a listener that fails does not undo the deletion; it is said.
void anuncia(const TExcluido& excluido, TExclusao& feito) {
    for (const OuvinteExclusao& ouvinte : std::as_const(ouvintes())) {
        QString aviso;
        try {
            aviso = ouvinte(excluido, &feito.retiradosDaFila);
        } catch (const std::exception& e) {
            aviso = QString::fromUtf8(e.what());
        }
        if (!aviso.isEmpty()) feito.avisos << aviso;
    }
}

}  // namespace

int OuveExclusoes(OuvinteExclusao ouvinte) {
    static int proximo = 0;
    ouvintes().insert(++proximo, std::move(ouvinte));
    return proximo;
}

void DeixaDeOuvirExclusoes(int id) { ouvintes().remove(id); }

QList<int> LaudosDoExame(const TExame& exame) {
    return codigos(exame.direito() ? QStringLiteral("SELECT Codigo FROM Laudos WHERE MedidaOD=:CodigoExame")
                                   : QStringLiteral("SELECT Codigo FROM Laudos WHERE MedidaOS=:CodigoExame"),
                   {{"CodigoExame", exame.codigo}});
}

TExclusao ExcluiExame(const TExame& exame) {
    TExclusao feito;
    DMPrincipal().runBatch([&] {
        DPacientes().BloqueiaPaciente(exame.paciente);
        feito.laudos = LaudosDoExame(exame);
        if (!feito.laudos.isEmpty()) DLaudos().DeleteLaudosByExame(exame.codigo, exame.olho);
        if (exame.ortoceratologia()) DExames().DeleteExamesOrtoByCodigoExame(exame.codigo);
        DExames().DeleteExamesByCodigo(exame.codigo);
        DPacientes().AtualizaContadores(exame.paciente);
        feito.examesRestantes = DPacientes().SelectTotalExamesByCodigo(exame.paciente);
    });
    removeLaudos(exame.paciente, feito.laudos, feito.naoRemovidos);
    for (char letra : {'a', 'd', 'm'})
        remove(CaminhoArquivoExame(exame.paciente, exame.codigo, letra), feito.naoRemovidos);
    QDir().rmdir(QFileInfo(CaminhoArquivoExame(exame.paciente, exame.codigo, 'a')).absolutePath());
    anuncia({exame.paciente, false, {exame.codigo}, {}, feito.laudos}, feito);
    return feito;
}

QList<int> LaudosDoPaciente(int paciente) {
    return codigos(QStringLiteral("SELECT Codigo FROM Laudos WHERE CodPaciente=:CodPac"), {{"CodPac", paciente}});
}

TExclusao ExcluiPaciente(int paciente) {
    TExclusao feito;
    QList<int> lagrimas;
    DMPrincipal().runBatch([&] {
        DPacientes().BloqueiaPaciente(paciente);
        if (DMPrincipal().selectInt(QStringLiteral("SELECT COUNT(*) FROM Exames WHERE Exames.CodPaciente = :idxPac"),
                                    {{"idxPac", paciente}}, QStringLiteral("COUNT"), TDMPrincipal::Close::Yes) > 0)
            throw Error(QStringLiteral("O paciente tem exames: exclua primeiro os exames."));
        feito.laudos = LaudosDoPaciente(paciente);
        for (int laudo : std::as_const(feito.laudos)) DLaudos().DeleteLaudosByCodigo(laudo);
        // The RIS's IDs go with the patient: a later worklist item of that ID registers anew.
        DMPrincipal().execProcedure(QStringLiteral("DELETE FROM PacientesRis WHERE CodPaciente = :Codigo"),
                                    {{"Codigo", paciente}});
        DPedidosRis().ExcluiDoPaciente(paciente);
        DVisitasDicom().ExcluiDoPaciente(paciente);
        // Tear-film exams keep no files and no reports: their rows go with the patient.
        lagrimas.clear();
        for (const TExameLagrima& e : DLagrima().SelectByPaciente(paciente)) lagrimas << e.codigo;
        feito.examesLagrima = int(lagrimas.size());
        DLagrima().DeleteByPaciente(paciente);
        DPacientes().DeletePacientesByCodigo(paciente);
    });
    removeLaudos(paciente, feito.laudos, feito.naoRemovidos);
    anuncia({paciente, true, {}, lagrimas, feito.laudos}, feito);
    return feito;
}

TExclusao ExcluiExameLagrima(int codigo) {
    TExclusao feito;
    DLagrima().Exclui(codigo);
    anuncia({0, false, {}, {codigo}, {}}, feito);
    return feito;
}

TExclusao AnunciaLaudoExcluido(int paciente, int laudo) {
    TExclusao feito;
    feito.laudos << laudo;
    anuncia({paciente, false, {}, {}, {laudo}}, feito);
    return feito;
}

}  // namespace norvix
