#pragma once
// Reads and writes of the LAUDOS table, the report navigator the backup walks, and the
// phrase catalogue LAUDOSTEXTO that the report editor offers (read only).
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <optional>

#include "UDExames.h"

namespace norvix {

// One standard phrase of a report box.
struct TFraseLaudo {
    int Codigo = 0;
    QString Texto;
};

// One LAUDOS row as a value; an eye without exam has -1.
struct TLaudo {
    int codigo = 0;
    int paciente = 0;
    int medidaOD = -1, medidaOS = -1;
    QDate data;
    QTime hora;
};

class TDLaudos {
public:
    TDLaudos();

    void InsertLaudos(int CodPaciente, int MedidaOD, int MedidaOS, const QString& Backup,
                      const QDate& Data, const QTime& Hora);
    void UpdateBackupLaudoByCodigo(int Codigo, const QString& Backup);  // no commit
    bool ZeraBackupLaudos();  // no commit; false when anything failed, without a message
    void DeleteLaudosByCodigo(int Codigo);

    int CountLaudos();
    int GenIdLaudos();
    int CountLaudosSemBackup();
    // Olho: "OD"/"Direito" or "OS"/"Esquerdo"; any other text raises Error and runs nothing.
    int CountLaudosByExame(int CodigoExame, const QString& Olho);
    // The reports on that exam, of either eye, in code order.
    QList<TLaudo> SelectLaudosByExame(int CodigoExame);
    // The report of that code; none when no row has it.
    std::optional<TLaudo> SelectLaudoByCodigo(int Codigo);
    // Deletes every report of the exam for that eye, each in its own transaction.
    void DeleteLaudosByExame(int CodigoExame, const QString& Olho);

    // The navigator, on the report cursor IBQueryLaudos.
    TDLaudos& AbreNavegador();
    void FechaNavegador();
    void Navegar(const QString& Campo, const QString& Conteudo, const QString& Comando);
    int CodPacienteAtual() const;
    int CodigoAtual() const;

    // The phrases of one box (LOCAL) and group (POSCAIXA), in table order, read through the
    // table cursor IBLaudosTexto filtered by "Local ='<box>' AND PosCaixa = <group>"; the
    // filter is removed afterwards and the cursor left open on the whole table.
    QList<TFraseLaudo> SelectFrases(const QString& Local, int PosCaixa);

private:
    TNavegadorRegistros navegador_;
};

// The instance shared by the callers that do not use the navigator.
TDLaudos& DLaudos();

}  // namespace norvix
