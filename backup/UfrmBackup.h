#pragma once
// The backup window: what is not yet backed up, the copy through the backup module, the marks,
// new media, the database copy, the restore, the automatic-backup choice and the automatic
// check at start-up.
#include <QDate>
#include <QDialog>
#include <QList>
#include <QPointer>
#include <QStringList>

class QButtonGroup;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace norvix {

class TBIniSettings;

class TfrmBackup : public QDialog {
    Q_OBJECT
public:
    // A record not yet backed up: its code, key ("patient\\code"), file names and whether any
    // of them is on disk.
    struct Pendente {
        int codigo = 0;
        QString chave;
        QStringList arquivos;
        bool presente = false;
    };
    // More records than this without files in one backup mean a folder problem, not records to
    // delete.
    static constexpr int kMaximoAusentes = 5;

    TfrmBackup(TBIniSettings* settings, QWidget* parent = nullptr);
    ~TfrmBackup() override;

    // Shows the window modally (the main window's "Backup" button).
    static void Executa(TBIniSettings* settings, QWidget* parent);
    static TfrmBackup* instance() { return instance_; }

    // Asks whether to back up now; on Yes shows the window modally and starts the backup.
    static void IniciaBackupAutomatico(TBIniSettings* settings, QWidget* parent);
    // The start-up check: with BACKUP AUTO above 0, offers a backup when the period since the
    // last backup has passed or enough exams wait for one. today: the clock, for tests.
    static void VerificaBackupAutomatico(TBIniSettings* settings, QWidget* parent,
                                         const QDate& today = QDate::currentDate());

    void FormShow();
    void AtualizaResumo();
    void btnIniciarBkpClick();
    void btnRestaurarClick();
    void sbtFecharClick();

    // The date of the last backup in the sixth summary line (characters 26 to 35); invalid when
    // there is none.
    QDate DataUltimoBackup() const;
    int ExamesSemBackup() const { return examesSemBackup_; }
    QString Montagem() const { return montagem_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    enum class Preparo { Continua, Encerra };
    void buildUi();
    // The records not yet backed up whose files exist, in navigator order, with their file
    // names; the others are logged and deleted, but only when their folder is there, readable,
    // not empty and at most kMaximoAusentes are missing: otherwise nothing is deleted and false
    // comes back with the reason in problema.
    bool listaExames(QList<int>* codigos, QStringList* nomes, QStringList* log, QString* problema);
    bool listaLaudos(QList<int>* codigos, QStringList* nomes, QStringList* log, QString* problema);
    QString problemaNaPasta(const QString& pasta, const QString& oQue, int total, const QList<Pendente>& lista) const;
    void gravaLog(const QString& arquivo, const QStringList& linhas);
    Preparo PreparaNovoDisco();
    bool copiaBanco();
    // The database and BackUp.ini of the medium, checked, then put in place together with the
    // files the module restored (pairs of staged file and destination) as one transaction.
    bool restauraBanco(const QList<std::pair<QString, QString>>& arquivos);
    bool trocaTudo(const QStringList& destinos, const QStringList& origens, const QString& fbk);
    // The folder of the data module's database (a local one; DIRQV's "Banco de Dados" else).
    static QString pastaBanco();
    // Starts a program and waits until it ends, the window painting meanwhile; false when it
    // did not start.
    bool executaEspera(const QString& programa, const QStringList& argumentos);

    TBIniSettings* settings_;
    bool autoStart_ = false;
    bool shown_ = false;
    QChar letra_;
    QString montagem_;
    int examesSemBackup_ = 0;

    QPlainTextEdit* mmResumo_;
    QLabel* lblNumExames_;
    QLabel* lblNumLaudos_;
    QLabel* lblAviso_;
    QPushButton* btnIniciarBkp_;
    QPushButton* btnRestaurar_;
    QPushButton* sbtFechar_;
    QPushButton* sbtAjuda_;
    QRadioButton* rbtPeriodo_;
    QRadioButton* rbtExames_;
    QRadioButton* rbtNunca_;
    QSpinBox* edtPeriodo_;
    QComboBox* cbxUnidade_;
    QSpinBox* edtExames_;

    static QPointer<TfrmBackup> instance_;
};

}  // namespace norvix
