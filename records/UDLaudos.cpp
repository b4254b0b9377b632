#include "UDLaudos.h"

#include <vector>

#include "UfrmDataModule.h"

namespace norvix {

using Commit = TDMPrincipal::Commit;
using Close = TDMPrincipal::Close;

namespace {

FbQuery& cursorLaudos() { return DMPrincipal().IBQueryLaudos; }

// The column of LAUDOS that holds the exam of the eye.
QString colunaDoOlho(const QString& olho) {
    if (olho == QLatin1String("OS") || olho == QLatin1String("Esquerdo"))
        return QStringLiteral("MedidaOS");
    if (olho == QLatin1String("OD") || olho == QLatin1String("Direito"))
        return QStringLiteral("MedidaOD");
    throw Error(QStringLiteral("Olho inválido: \"%1\" (esperado OD, OS, Direito ou Esquerdo).")
                    .arg(olho.left(20)));
}

TLaudo laudoDaLinha(const FbDataSet& q) {
    TLaudo l;
    l.codigo = q.asInt(QStringLiteral("CODIGO"));
    l.paciente = q.asInt(QStringLiteral("CODPACIENTE"));
    l.medidaOD = q.isNull(QStringLiteral("MEDIDAOD")) ? -1 : q.asInt(QStringLiteral("MEDIDAOD"));
    l.medidaOS = q.isNull(QStringLiteral("MEDIDAOS")) ? -1 : q.asInt(QStringLiteral("MEDIDAOS"));
    l.data = q.asDate(QStringLiteral("DATA"));
    l.hora = q.asTime(QStringLiteral("HORA"));
    return l;
}

const char* const kColunasLaudo = "SELECT Codigo, CodPaciente, MedidaOD, MedidaOS, Data, Hora FROM Laudos ";

}  // namespace

QList<TLaudo> TDLaudos::SelectLaudosByExame(int CodigoExame) {
    FbQuery& q = DMPrincipal().openQuery(
        DMPrincipal().IBOperation,
        QLatin1String(kColunasLaudo) +
            QStringLiteral("WHERE MedidaOD = :CodigoExame OR MedidaOS = :CodigoExame ORDER BY Codigo"),
        {{"CodigoExame", CodigoExame}});
    QList<TLaudo> laudos;
    for (; !q.eof(); q.next()) laudos << laudoDaLinha(q);
    q.close();
    return laudos;
}

std::optional<TLaudo> TDLaudos::SelectLaudoByCodigo(int Codigo) {
    FbQuery& q = DMPrincipal().openQuery(DMPrincipal().IBOperation,
                                         QLatin1String(kColunasLaudo) + QStringLiteral("WHERE Codigo = :Codigo"),
                                         {{"Codigo", Codigo}});
    std::optional<TLaudo> laudo;
    if (!q.eof()) laudo = laudoDaLinha(q);
    q.close();
    return laudo;
}

TDLaudos& DLaudos() {
    static TDLaudos instancia;
    return instancia;
}

TDLaudos::TDLaudos() : navegador_("Laudos", cursorLaudos) {}

void TDLaudos::InsertLaudos(int CodPaciente, int MedidaOD, int MedidaOS, const QString& Backup,
                            const QDate& Data, const QTime& Hora) {
    DMPrincipal().execProcedure(
        "Execute Procedure InsertLaudos :CodPaciente,:MedidaOD,:MedidaOS,:Backup,:Data,:Hora",
        {{"CodPaciente", CodPaciente}, {"MedidaOD", MedidaOD}, {"MedidaOS", MedidaOS},
         {"Backup", Backup}, {"Data", Data}, {"Hora", Hora}},
        Commit::Yes, Close::Yes);
}

void TDLaudos::UpdateBackupLaudoByCodigo(int Codigo, const QString& Backup) {
    DMPrincipal().execProcedure("Execute Procedure UpdateBackupLaudoByCodigo :Codigo,:Backup",
                                {{"Codigo", Codigo}, {"Backup", Backup}}, Commit::No,
                                Close::Yes);
}

bool TDLaudos::ZeraBackupLaudos() {
    try {
        DMPrincipal().execProcedure("Execute Procedure ZeraBackupLaudos", {}, Commit::No,
                                    Close::Yes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TDLaudos::DeleteLaudosByCodigo(int Codigo) {
    DMPrincipal().execProcedure("Execute Procedure DeleteLaudosByCodigo :Codigo",
                                {{"Codigo", Codigo}}, Commit::Yes, Close::Yes);
}

int TDLaudos::CountLaudos() {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Laudos", {}, "COUNT", Close::Yes);
}

int TDLaudos::GenIdLaudos() {
    return DMPrincipal().selectInt("SELECT FIRST(1) GEN_ID(Codigo_Laudos, 0) FROM Laudos", {},
                                   "GEN_ID", Close::Yes);
}

int TDLaudos::CountLaudosSemBackup() {
    return DMPrincipal().selectInt("SELECT COUNT(*) FROM Laudos WHERE Laudos.Backup=:Backup",
                                   {{"Backup", QStringLiteral("")}}, "COUNT", Close::Yes);
}

int TDLaudos::CountLaudosByExame(int CodigoExame, const QString& Olho) {
    return DMPrincipal().selectInt(
        QStringLiteral("SELECT COUNT(*) FROM Laudos WHERE %1=:CodigoExame").arg(colunaDoOlho(Olho)),
        {{"CodigoExame", CodigoExame}}, "COUNT", Close::Yes);
}

void TDLaudos::DeleteLaudosByExame(int CodigoExame, const QString& Olho) {
    TDMPrincipal& dm = DMPrincipal();
    FbQuery& q = dm.openQuery(
        dm.IBOperation,
        QStringLiteral("SELECT Codigo FROM Laudos WHERE %1=:CodigoExame").arg(colunaDoOlho(Olho)),
        {{"CodigoExame", CodigoExame}});
    std::vector<int> codigos;
    for (; !q.eof(); q.next()) codigos.push_back(q.asInt(QStringLiteral("Codigo")));
    q.close();
    for (int codigo : codigos) DeleteLaudosByCodigo(codigo);
}

TDLaudos& TDLaudos::AbreNavegador() {
    navegador_.Abre();
    return *this;
}

void TDLaudos::FechaNavegador() { navegador_.Fecha(); }

void TDLaudos::Navegar(const QString& Campo, const QString& Conteudo, const QString& Comando) {
    navegador_.Navegar(Campo, Conteudo, Comando);
}

int TDLaudos::CodPacienteAtual() const { return navegador_.Inteiro("CodPaciente"); }

int TDLaudos::CodigoAtual() const { return navegador_.Inteiro("Codigo"); }

QList<TFraseLaudo> TDLaudos::SelectFrases(const QString& Local, int PosCaixa) {
    FbTable& tabela = DMPrincipal().IBLaudosTexto;
    QString local = Local;
    local.replace(QLatin1Char('\''), QLatin1String("''"));  // the box code is a literal
    QList<TFraseLaudo> frases;
    tabela.close();
    tabela.setFilter(QStringLiteral("Local ='") + local + QStringLiteral("'") +
                     QStringLiteral(" AND PosCaixa = ") + QString::number(PosCaixa));
    try {
        tabela.open();
        for (tabela.first(); !tabela.eof(); tabela.next())
            frases.append({tabela.asInt(QStringLiteral("Codigo")),
                           tabela.asString(QStringLiteral("Texto"))});
    } catch (...) {
        tabela.close();
        tabela.setFilter(QString());
        throw;
    }
    tabela.close();
    tabela.setFilter(QString());
    tabela.open();
    return frases;
}

}  // namespace norvix
