// The tools window offscreen on a fresh database: options shown and written back, the shared
// record refreshed, bad values refused, the clinic logo, the database figures and the reset of
// the backup sequence, which changes the marks and BackUp.ini together or not at all; the DICOM page.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QThreadPool>
#include <QTreeWidget>

#include "config/SharedRecords.h"
#include "config/UBIniSettings.h"
#include "db/DbTestSupport.h"
#include "modules/MapCatalogue.h"
#include "platform/ui/FileDialogSeam.h"
#include "platform/ui/MessageSeam.h"
#include "platform/ProfileFile.h"
#include "records/UDExames.h"
#include "tools/UfrmFerramentas.h"

using norvix::TBIniSettings;
using norvix::TfrmFerramentas;
using norvix::TMapCatalogue;

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using norvix::setRecordText;

int porta(int tentada = 0) {  // a free loopback port; given one, whether a server listens there
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{AF_INET, htons(tentada), {htonl(INADDR_LOOPBACK)}, {}};
    auto* e = reinterpret_cast<sockaddr*>(&a);
    socklen_t n = sizeof a;
    const int r = tentada ? ::connect(s, e, n) : ::bind(s, e, n) | ::getsockname(s, e, &n);
    ::close(s);
    return r == 0 ? ntohs(a.sin_port) : 0;
}

QByteArray ler(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Tools : public dbtest::DbTest {
protected:
    void SetUp() override {
        DbTest::SetUp();
        ASSERT_TRUE(root.isValid());
        norvix::resetSharedRecords();
        QDir(root.path()).mkpath("OrventDuo");
        qputenv("NORVIX_ROOT", QFile::encodeName(root.path()));
        qputenv("NORVIX_BACKUP_DIR", QFile::encodeName(root.path()));
        setRecordText(norvix::paths().DirQV, qv());
        setRecordText(norvix::paths().BancoDados, QFileInfo(path).path());
        QFile ini(qv() + "/Orvent.ini");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write("[OPCOES]\r\nINCMAP=0.75\r\nAUTOINCMAP=1\r\nMapaPadraoNovoExame=Sagital\r\nIDIOMA=pt\r\n"
                  "[MAPA]\r\nCORCERATOMETRIAPONTUAL=Roxa\r\n");
        ini.close();
        ASSERT_TRUE(settings.LoadOptions(3));
        seam.messages.clear();  // the load's complaints about keys this file leaves out
        TInfosQV& i = norvix::infos();
        i.InstrumentModel = 3;
        i.AutoIncMap = 1;
        i.IncMap = 0.75;
        i.IndiceConf = 72.6;
        i.QualidadeImagem = 80;
        i.TvlCentral = 8;
        i.TIncremento = 2;
        i.AutoPCaptura = 0;
        i.DelayAutoPCaptura = 500;
        i.ExibeCeratometriaPontual = 1;
        setRecordText(i.Nome, "Clínica Olhar");
        setRecordText(i.MapaPadraoNovoExame, "Sagital");
        setRecordText(i.CorCeratometriaPontual, "Roxa");
        setRecordText(i.TipoCeratometria, "Convencional");
        escreveBackupIni("[BACKUP]\r\nDiscoAtual=3\r\nNumExamGeral=40\r\nUltBkp=02/02/2026 10:00:00\r\nBackupZerado=2\r\n");
    }
    void TearDown() override {
        // Deleted rather than closed: a test may leave a value the window refuses to close with.
        delete w;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        qunsetenv("NORVIX_ROOT");
        qunsetenv("NORVIX_BACKUP_DIR");
        DbTest::TearDown();
    }
    QString qv() const { return root.filePath("OrventDuo"); }
    QString backupIni() const { return root.filePath("BackUp.ini"); }
    void escreveBackupIni(const QByteArray& s) {
        QFile f(backupIni());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(s);
    }
    QString opcao(const char* secao, const char* chave) const {
        return norvix::ProfileFile(qv() + "/Orvent.ini").readString(secao, chave, "<ausente>");
    }
    void abre(const TMapCatalogue* catalogo = nullptr) {
        w = new TfrmFerramentas(catalogo, &settings);
        w->show();
        QCoreApplication::processEvents();
    }
    template <class T = QWidget>
    T* c(const char* name) const {
        T* x = w->findChild<T*>(QLatin1String(name));
        EXPECT_NE(x, nullptr) << name;
        return x;
    }
    QString texto(const char* name) const { return c<QLabel>(name)->text(); }
    // Two exams, one of them backed up, and one report without a mark.
    void exames() {
        const int med = insertMedico("Dr. Caio");
        const int pac = insertPaciente("Ana");
        insertExame(pac, med, QDate(2026, 1, 5), QTime(9, 0));
        const int feito = insertExame(pac, med, QDate(2026, 1, 6), QTime(9, 0), "OS");
        norvix::TDMPrincipal::Batch lote(*dm);
        norvix::DExames().UpdateBackupExameByCodigo(feito, "1");
        lote.commit();
    }

    QTemporaryDir root;
    norvix::RecordingMessageSeam seam;
    TBIniSettings settings;
    QPointer<TfrmFerramentas> w;
};

TEST_F(Tools, OptionsShownFromTheRecordAndWrittenBackOnClose) {
    abre();
    EXPECT_TRUE(c<QRadioButton>("rbtDisable")->isChecked());
    EXPECT_TRUE(c("EdtIncMap")->isEnabled());
    EXPECT_EQ(c<QLineEdit>("EdtIncMap")->text(), "0.75");
    EXPECT_EQ(c<QSpinBox>("edtValIndConf")->value(), 73);  // 72.6 rounded
    EXPECT_EQ(c<QSpinBox>("SpinEditQualidadeImagem")->value(), 80);
    EXPECT_FALSE(c<QRadioButton>("rbtAxial")->isChecked());  // "Sagital" is no item
    EXPECT_FALSE(c<QRadioButton>("rbtTangencial")->isChecked());
    EXPECT_EQ(c<QComboBox>("cbCorCeratPontual")->currentIndex(), -1);
    EXPECT_EQ(c<QComboBox>("cbTipoCeratometria")->currentText(), "Convencional");
    EXPECT_FALSE(c("edtDelayAutoPCaptura")->isEnabled());
    EXPECT_TRUE(c("cbCorCeratPontual")->isEnabled());
    EXPECT_EQ(c<QLineEdit>("edtNome")->text(), "Clínica Olhar");

    c<QLineEdit>("EdtIncMap")->clear();
    c<QLineEdit>("edtFone")->setText("(11) 5555-0101");
    c<QSpinBox>("edtValIndConf")->setValue(85);
    c<QCheckBox>("chkAutoPCaptura")->setChecked(true);
    EXPECT_TRUE(c("edtDelayAutoPCaptura")->isEnabled());
    c<QSpinBox>("edtDelayAutoPCaptura")->setValue(700);
    c<QPushButton>("btnFechar")->click();
    EXPECT_TRUE(seam.messages.empty()) << seam.texts().join("|").toStdString();

    EXPECT_EQ(opcao("OPCOES", "INCMAP"), "0.50");
    EXPECT_EQ(opcao("OPCOES", "AUTOINCMAP"), "1");
    EXPECT_EQ(opcao("OPCOES", "IDIOMA"), "");
    EXPECT_EQ(opcao("OPCOES", "INDICECONF"), "85");
    EXPECT_EQ(opcao("OPCOES", "DELAYAUTOPCAPTURA"), "700");
    EXPECT_EQ(opcao("CLINICA", "TELEFONE"), "(11) 5555-0101");
    EXPECT_EQ(opcao("CLINICA", "Nome"), "Clínica Olhar");
    // No choice, nothing to write: the stored texts stay.
    EXPECT_EQ(opcao("OPCOES", "MapaPadraoNovoExame"), "Sagital");
    EXPECT_EQ(opcao("MAPA", "CORCERATOMETRIAPONTUAL"), "Roxa");
    // The shared record took the new values at once.
    const TInfosQV& i = norvix::infos();
    EXPECT_EQ(i.IncMap, 0.5);
    EXPECT_EQ(i.IndiceConf, 85);
    EXPECT_EQ(i.DelayAutoPCaptura, 700);
    EXPECT_EQ(i.AutoPCaptura, 1);
    EXPECT_EQ(norvix::recordText(i.Telefone), "(11) 5555-0101");
    EXPECT_EQ(norvix::recordText(i.Idioma), "");
}

TEST_F(Tools, AnIncrementOutOfRangeKeepsTheWindowOpenAndWritesNothing) {
    const QByteArray antes = ler(qv() + "/Orvent.ini");
    abre();
    for (const char* ruim : {"0", "5.5", "."}) {
        seam.messages.clear();
        c<QLineEdit>("EdtIncMap")->setText(ruim);
        c<QPushButton>("btnFechar")->click();
        ASSERT_EQ(seam.messages.size(), 1u) << ruim;
        EXPECT_TRUE(seam.messages[0].text.startsWith("O incremento fixo dos mapas deve ser um número"));
        EXPECT_TRUE(w->isVisible());
    }
    EXPECT_EQ(ler(qv() + "/Orvent.ini"), antes);
}

TEST_F(Tools, DatabaseFiguresAndTheCatalogue) {
    exames();
    QDir(root.path()).mkpath("Mapas");
    for (const char* mapa : {"Halden.so", "Sorvik.so"})
        ASSERT_TRUE(QFile::copy(qEnvironmentVariable("NORVIX_BIN_DIR") + "/" + mapa, root.filePath(QString("Mapas/") + mapa)));
    TMapCatalogue catalogo;
    catalogo.BuildCatalogue(root.filePath("Mapas"));
    abre(&catalogo);
    EXPECT_EQ(c<QTreeWidget>("tlvMapas")->topLevelItemCount(), int(catalogo.Items().size() / 4));
    EXPECT_EQ(c<QTreeWidget>("tlvMapas")->topLevelItemCount(), 2);
    EXPECT_EQ(texto("lblNumMedicos"), "0001");
    EXPECT_EQ(texto("lblNumPacientes"), "0001");
    EXPECT_EQ(texto("lblNumExames"), "0002");
    EXPECT_EQ(texto("lblIndExames"), "0002");
    EXPECT_EQ(texto("lblExamesBackup"), "0001");
    EXPECT_EQ(texto("lblLaudosBackup"), "0000");
    EXPECT_EQ(texto("lblReiniciaBackup"), "2 vez(es)");
    EXPECT_TRUE(texto("lblTamanhoBD").endsWith(" MBytes"));
    EXPECT_EQ(texto("lblDiretorioBD"), QFileInfo(path).absoluteFilePath());
    EXPECT_TRUE(c("btnZerarBackup")->isEnabled());
    EXPECT_EQ(c<QTabWidget>("pgcFerramentas")->currentIndex(), 0);
}

TEST_F(Tools, ZerarBackupClearsTheMarksAndTheSequenceTogether) {
    exames();
    abre();
    c<QPushButton>("btnZerarBackup")->click();
    EXPECT_EQ(seam.texts(), QStringList{"Arquivo de backup zerado com sucesso."});
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Backup <> ''"), 0);
    const norvix::ProfileFile ini(backupIni());
    EXPECT_EQ(ini.readString("BACKUP", "DiscoAtual", ""), "1");
    EXPECT_EQ(ini.readString("BACKUP", "NumExamGeral", ""), "0");
    EXPECT_EQ(ini.readString("BACKUP", "UltBkp", ""), "01/01/2007 00:00:00");
    EXPECT_EQ(ini.readString("BACKUP", "BackupZerado", ""), "3");
    EXPECT_EQ(texto("lblExamesBackup"), "0000");
    EXPECT_EQ(texto("lblReiniciaBackup"), "3 vez(es)");
    EXPECT_FALSE(c("btnZerarBackup")->isEnabled());
    w->close();
    // With nothing backed up the button starts disabled.
    abre();
    EXPECT_FALSE(c("btnZerarBackup")->isEnabled());
}

TEST_F(Tools, ZerarBackupChangesNothingWhenEitherSideFails) {
    exames();
    const QByteArray antes = ler(backupIni());
    abre();
    // BackUp.ini cannot be rewritten: a folder stands in its place.
    QDir(root.path()).rename("BackUp.ini", "BackUp.guardado");
    QDir(root.path()).mkpath("BackUp.ini");
    c<QPushButton>("btnZerarBackup")->click();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_TRUE(seam.messages[0].text.startsWith("Erro - arquivo de backup não foi zerado."));
    EXPECT_EQ(seam.messages[0].caption, "ERRO");
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Backup <> ''"), 1);
    QDir(root.path()).rmdir("BackUp.ini");
    QDir(root.path()).rename("BackUp.guardado", "BackUp.ini");

    // The database refuses the second half: the first half is rolled back and the file kept.
    seam.messages.clear();
    const int paciente = dm->selectInt("SELECT FIRST(1) Codigo FROM Pacientes", {}, "Codigo", norvix::TDMPrincipal::Close::Yes);
    dm->execProcedure("INSERT INTO Laudos (Codigo, CodPaciente, Backup) VALUES (1, :P, '1')", {{"P", paciente}});
    dm->execProcedure("ALTER TABLE Laudos ADD CONSTRAINT CK_LAUDOS_TESTE CHECK (Backup <> '')");
    c<QPushButton>("btnZerarBackup")->click();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_TRUE(seam.messages[0].text.contains("nada foi alterado"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Backup <> ''"), 1);
    EXPECT_EQ(ler(backupIni()), antes);
}

TEST_F(Tools, ZerarBackupWhoseCommitIsRefusedPutsBackUpIniBack) {
    exames();
    const QByteArray antes = ler(backupIni());
    // The engine refuses the commit of the transaction that clears the last mark.
    dm->execProcedure("CREATE EXCEPTION E_COMMIT_TESTE 'commit recusado'");
    dm->execProcedure("CREATE TRIGGER T_COMMIT_TESTE ON TRANSACTION COMMIT AS BEGIN "
                      "IF (NOT EXISTS(SELECT 1 FROM Exames WHERE Backup <> '')) THEN EXCEPTION E_COMMIT_TESTE; END");
    abre();
    c<QPushButton>("btnZerarBackup")->click();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_TRUE(seam.messages[0].text.contains("BackUp.ini voltou ao que era")) << seam.messages[0].text.toStdString();
    EXPECT_EQ(ler(backupIni()), antes);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Exames WHERE Backup <> ''"), 1);
    EXPECT_TRUE(c("btnZerarBackup")->isEnabled());
}

TEST_F(Tools, ClinicLogo) {
    norvix::ScriptedFileDialogSeam dialogo;
    abre();
    QImage grande(300, 200, QImage::Format_RGB32);
    grande.fill(Qt::red);
    ASSERT_TRUE(grande.save(root.filePath("grande.png")));
    QImage pequena(60, 40, QImage::Format_RGB32);
    pequena.fill(Qt::blue);
    ASSERT_TRUE(pequena.save(root.filePath("pequena.png")));
    QFile texto(root.filePath("logo.png"));
    ASSERT_TRUE(texto.open(QIODevice::WriteOnly));
    texto.write("isto não é uma imagem");
    texto.close();
    const QString logo = qv() + "/LogoClinica.bmp";

    dialogo.answers = {root.filePath("pequena.png")};
    w->LogoClinicaDblClick();
    EXPECT_EQ(QImage(logo).size(), QSize(60, 40));
    EXPECT_EQ(dialogo.requests.front().title, "Abrir Logotipo da Clínica");

    // Too large: on no nothing changes; on yes it is reduced to 100 by 100.
    seam.answers = {norvix::MsgAnswer::No};
    dialogo.answers = {root.filePath("grande.png")};
    w->LogoClinicaDblClick();
    EXPECT_EQ(QImage(logo).size(), QSize(60, 40));
    seam.answers = {norvix::MsgAnswer::Yes};
    dialogo.answers = {root.filePath("grande.png")};
    w->LogoClinicaDblClick();
    const QImage salvo(logo);
    EXPECT_EQ(salvo.size(), QSize(100, 100));
    EXPECT_EQ(salvo.pixelColor(50, 50), QColor(Qt::red));
    EXPECT_EQ(seam.messages.size(), 2u);

    // Not a picture: said so, the logo stays.
    dialogo.answers = {root.filePath("logo.png")};
    w->LogoClinicaDblClick();
    ASSERT_EQ(seam.messages.size(), 3u);
    EXPECT_TRUE(seam.messages.back().text.contains("não é uma imagem"));
    EXPECT_EQ(QImage(logo).size(), QSize(100, 100));
}

}  // namespace

namespace {

TEST_F(Tools, DicomRowsShownAndWrittenBack) {
    const struct { const char *campo, *chave, *arquivo, *lido, *novo; } linhas[] = {
        {"edtDicomAeEstacao", "AETITLE", "TOPO1", "TOPO1", "TOPO2"},
        {"edtPacsAeTitle", "PACS_AETITLE", "ARQUIVO", "ARQUIVO", "ABCDEFGHIJKLMNOP"},  // 16: the longest
        {"edtPacsServidor", "PACS_HOST", "pacs.local", "pacs.local", "10.0.0.5"},
        {"edtPacsPorta", "PACS_PORTA", "4242", "4242", "65535"},
        {"edtWorklistPorta", "WORKLIST_PORTA", "70000", "104", "1"},  // a bad row reads as the default
    };
    const norvix::ProfileFile ini(qv() + "/Orvent.ini");
    for (const auto& l : linhas) ASSERT_TRUE(ini.writeString("DICOM", l.chave, l.arquivo));
    ASSERT_TRUE(ini.writeString("DICOM", "ENVIO_AUTOMATICO", "1"));
    abre();
    for (const auto& l : linhas) {
        EXPECT_EQ(c<QLineEdit>(l.campo)->text(), l.lido) << l.campo;
        c<QLineEdit>(l.campo)->setText(QString(" %1 ").arg(l.novo));  // blanks do not count
    }
    c<QCheckBox>("chkDicomEnvioAutomatico")->click();  // shown ticked, so now off
    c<QPushButton>("btnFechar")->click();
    EXPECT_TRUE(seam.messages.empty()) << seam.texts().join("|").toStdString();
    for (const auto& l : linhas) EXPECT_EQ(opcao("DICOM", l.chave), l.novo) << l.chave;
    EXPECT_EQ(opcao("DICOM", "ENVIO_AUTOMATICO"), "0");
    EXPECT_EQ(settings.PacsPorta(), 65535);  // the program's settings object took them too
}

TEST_F(Tools, DicomBadValuesKeepTheWindowOpenNamingTheField) {
    const QByteArray antes = ler(qv() + "/Orvent.ini");
    abre();
    // The field typed into, the value, the message, and the field given the focus when not that one.
    const struct { const char* campo; QString valor; QString diz; const char* foco = nullptr; } ruins[] = {
        {"edtPacsPorta", "0", "A porta do PACS (\"0\") deve ser um número de 1 a 65535."},
        {"edtWorklistPorta", "70000", "A porta da lista de trabalho (\"70000\")"},
        {"edtDicomAeEstacao", "ABCDEFGHIJKLMNOPQ", "O AE title desta estação (\"ABCDEFGHIJKLMNOPQ\") deve ter até 16"},
        {"edtPacsAeTitle", "PACS\\1", "O AE title do PACS (\"PACS\\1\")"},
        {"edtWorklistAeTitle", "LISTAÇÃO", "O AE title da lista de trabalho (\"LISTAÇÃO\")"},
        {"edtPacsAeTitle", "ARQUIVO", "Informe o servidor do PACS", "edtPacsServidor"},
    };
    for (const auto& r : ruins) {
        seam.messages.clear();
        QLineEdit* campo = c<QLineEdit>(r.campo);
        const QString bom = campo->text();
        campo->setText(r.valor);
        c<QPushButton>("btnFechar")->click();
        ASSERT_EQ(seam.messages.size(), 1u) << r.campo;
        EXPECT_TRUE(seam.messages[0].text.startsWith(r.diz) && w->isVisible()) << seam.messages[0].text.toStdString();
        EXPECT_TRUE(c<QTabWidget>("pgcFerramentas")->currentWidget() == c("tshDicom") &&
                    w->focusWidget() == (r.foco ? c(r.foco) : campo)) << r.campo;
        campo->setText(bom);
    }
    EXPECT_EQ(ler(qv() + "/Orvent.ini"), antes);
}

TEST_F(Tools, DicomConnectionTestOffTheGuiThread) {
    QProcess storescp;  // its destructor stops it, by its own pid
    const int aberta = porta(), fechada = porta();
    storescp.start("storescp", {"-aet", "RECEPTOR", QString::number(aberta)});
    for (int i = 0; i < 200 && !porta(aberta); ++i) QThread::msleep(50);
    ASSERT_TRUE(porta(aberta)) << "storescp não abriu a porta";
    abre();
    const struct { QByteArray g; int porta; QString diz; } casos[] = {
        {"Pacs", aberta, "Conexão com o PACS bem-sucedida"},
        {"Worklist", fechada, "O servidor da lista de trabalho não responde"}};
    for (const auto& k : casos) {
        c<QLineEdit>("edt" + k.g + "AeTitle")->setText("RECEPTOR");
        c<QLineEdit>("edt" + k.g + "Servidor")->setText("127.0.0.1");
        c<QLineEdit>("edt" + k.g + "Porta")->setText(QString::number(k.porta));
        c<QPushButton>("btn" + k.g + "Testar")->click();
        EXPECT_TRUE(texto("lbl" + k.g + "Resposta") == "Testando..." && !c("btn" + k.g + "Testar")->isEnabled());
        c<QTabWidget>("pgcFerramentas")->setCurrentIndex(0);  // the answer still arrives
        for (int i = 0; i < 300 && texto("lbl" + k.g + "Resposta") == "Testando..."; ++i) QTest::qWait(50);
        EXPECT_TRUE(texto("lbl" + k.g + "Resposta").contains(k.diz)) << texto("lbl" + k.g + "Resposta").toStdString();
        EXPECT_TRUE(c("btn" + k.g + "Testar")->isEnabled());
    }
    // An answer speaks only for the values it tested: an edit clears it, also one made while
    // the test runs (its answer is then dropped).
    auto* portaWl = c<QLineEdit>("edtWorklistPorta");
    for (int p : {aberta, fechada}) portaWl->setText(QString::number(p));
    EXPECT_EQ(texto("lblWorklistResposta"), "");
    c<QPushButton>("btnWorklistTestar")->click();
    portaWl->setText(QString::number(aberta));
    for (int i = 0; i < 300 && !c("btnWorklistTestar")->isEnabled(); ++i) QTest::qWait(50);
    EXPECT_EQ(texto("lblWorklistResposta"), "");
    // Closed while a test runs: the late answer finds no page and is dropped.
    c<QPushButton>("btnPacsTestar")->click();
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

}  // namespace
