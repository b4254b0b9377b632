// The reference backup module on temporary folders: copy, manifest, marks, spanning over media
// of a given capacity, restore with a damaged file, a missing or failing medium.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDate>
#include <QFileInfo>
#include <QProcess>

#include <sys/mount.h>
#include <unistd.h>

#include "BackupTestSupport.h"
#include "backup/BackupMidia.h"
#include "modules/HostStream.h"
#include "modules/ModuleBindings.h"
#include "platform/ProfileFile.h"

using norvix::TBackupBinding;

using namespace backup_test;
namespace bk = norvix::backup;

namespace {

QString modulo() { return qEnvironmentVariable("NORVIX_BIN_DIR") + "/Backup.so"; }

struct Resultado {
    int32_t valor = 0;
    QStringList marcasExames, marcasLaudos;
};

Resultado criar(const Bancada& b, const QStringList& exames, const QStringList& laudos = {}) {
    TBackupBinding binding;
    EXPECT_TRUE(binding.LoadModule(modulo()));
    norvix::HostStream listaE, resE, listaL, resL;
    listaE.writeLines(exames);
    listaL.writeLines(laudos);
    listaE.rewind();
    listaL.rewind();
    Resultado r;
    r.valor = binding.CriarBackup(nullptr, listaE, resE, listaL, resL, 3, b.exames().toUtf8().constData(),
                                  b.laudos().toUtf8().constData());
    binding.ReleaseModule();
    r.marcasExames = resE.lines();
    r.marcasLaudos = resL.lines();
    return r;
}

int32_t restaurar(const Bancada& b) {
    TBackupBinding binding;
    EXPECT_TRUE(binding.LoadModule(modulo()));
    const int32_t r = binding.RestaurarBackup(nullptr, b.exames().toUtf8().constData(), b.laudos().toUtf8().constData());
    binding.ReleaseModule();
    return r;
}

QStringList nomes(int paciente, int codigo) {
    const QString c = QStringLiteral("%1\\%2").arg(paciente).arg(codigo);
    return {c + "a.txt", c + "d.txt", c + "m.txt"};
}

}  // namespace

TEST(BackupModulo, RotuloDoDiscoComQuatroAlgarismosLimitado) {
    EXPECT_EQ(bk::rotuloDisco(3), "Pelk0003");
    EXPECT_EQ(bk::rotuloDisco(9999), "Pelk9999");
    EXPECT_EQ(bk::rotuloDisco(10000), "Pelk9999");
    EXPECT_EQ(bk::rotuloDisco(-4), "Pelk0000");
}

TEST(BackupModulo, InfoDaDataDoUltimoBackupNaSextaLinhaELetraDaUnidade) {
    Bancada b;
    TBackupBinding binding;
    ASSERT_TRUE(binding.LoadModule(modulo()));
    norvix::HostStream linhas;
    EXPECT_EQ(binding.InfoBackup(nullptr, linhas, 3), 'E');  // "e" in the file, upper case out
    const QStringList l = linhas.lines();
    ASSERT_GE(l.size(), 6);
    EXPECT_EQ(l[5].mid(25, 10), "01/01/2007");  // no backup yet: the default date

    // Garbage in BackUp.ini: still a letter and six lines, no crash.
    escreve(b.ini(), QByteArray("\x01\xff[[BACKUP\n=\n[BACKUP]\nDrive=7\nDiscoAtual=abc\n", 40));
    norvix::HostStream outras;
    EXPECT_EQ(binding.InfoBackup(nullptr, outras, 3), 'E');
    EXPECT_GE(outras.lines().size(), 6);
}

TEST(BackupModulo, CopiaMarcaRestauraIgualAoOriginal) {
    Bancada b;
    b.exame(12, 345);
    b.exame(12, 346);
    escreve(b.exames() + "/12/346d.txt", "");  // an empty file is copied too
    escreve(b.laudos() + "/12/7l.txt", "Laudo do paciente 12\r\n");
    QFile::remove(b.exames() + "/12/346m.txt");  // only some files of an exam exist
    const QByteArray original = le(b.exames() + "/12/345d.txt");

    const Resultado r = criar(b, nomes(12, 345) + nomes(12, 346), {"12\\7l.txt"});
    EXPECT_EQ(r.valor, 6);
    EXPECT_EQ(r.marcasExames, QStringList({"Pelk0001", "Pelk0001"}));
    EXPECT_EQ(r.marcasLaudos, QStringList({"Pelk0001"}));

    // The manifest holds the true sum of each copy, in sha256sum's format.
    const auto manifesto = bk::leManifesto(b.midia());
    EXPECT_EQ(manifesto.size(), 6);
    EXPECT_EQ(manifesto.value("Exames/12/345d.txt"), QCryptographicHash::hash(original, QCryptographicHash::Sha256).toHex());
    EXPECT_EQ(le(b.midia() + "/Exames/12/345d.txt"), original);
    const norvix::ProfileFile ini(b.ini());
    EXPECT_EQ(ini.readInteger("BACKUP", "NumExamDisco", -1), 2);
    EXPECT_EQ(ini.readString("BACKUP", "UltBkp", {}).left(10), QDate::currentDate().toString("dd/MM/yyyy"));

    QDir(b.exames()).removeRecursively();
    QDir(b.laudos()).removeRecursively();
    Respondedor respostas;
    EXPECT_EQ(restaurar(b), 6);
    EXPECT_EQ(le(b.exames() + "/12/345d.txt"), original);
    EXPECT_EQ(le(b.exames() + "/12/346d.txt"), QByteArray());
    EXPECT_EQ(le(b.laudos() + "/12/7l.txt"), "Laudo do paciente 12\r\n");
    EXPECT_FALSE(QFileInfo::exists(b.exames() + "/12/346m.txt"));
}

TEST(BackupModulo, RestauracaoRecusaArquivoDiferenteDoManifestoENomeiaO) {
    Bancada b;
    b.exame(12, 345);
    b.exame(13, 400);
    ASSERT_EQ(criar(b, nomes(12, 345) + nomes(13, 400)).valor, 6);
    escreve(b.midia() + "/Exames/13/400m.txt", "alterado depois do backup");
    QFile::remove(b.midia() + "/Exames/12/345a.txt");
    escreve(b.exames() + "/13/400m.txt", "atual");

    Respondedor respostas;
    EXPECT_EQ(restaurar(b), -1);  // all or nothing: the host then lets the staged files go
    ASSERT_EQ(respostas.textos.size(), 2);
    EXPECT_TRUE(respostas.textos[1].contains("Exames/13/400m.txt"));
    EXPECT_TRUE(respostas.textos[1].contains("Exames/12/345a.txt"));
    EXPECT_EQ(le(b.exames() + "/13/400m.txt"), "atual");  // kept, not overwritten by the bad copy
}

TEST(BackupModulo, MidiaCheiaPedeOProximoDiscoEMarcaCadaExameComOSeu) {
    Bancada b;
    b.exame(12, 1, 1000);
    b.exame(12, 2, 1000);
    b.exame(12, 3, 1000);
    // Room for two exams and their manifest lines; the manifest itself is small.
    qputenv("NORVIX_BACKUP_CAPACIDADE", "7000");
    {
        int trocas = 0;
        Respondedor respostas([&](const QString& texto) {
            if (texto.contains("número 2")) {
                ++trocas;  // the full disk leaves the drive, an empty one comes in
                QDir().rename(b.midia(), b.raiz.path() + "/disco1");
                QDir().mkpath(b.midia());
            }
            return QMessageBox::Ok;
        });
        const Resultado r = criar(b, nomes(12, 1) + nomes(12, 2) + nomes(12, 3));
        EXPECT_EQ(trocas, 1);
        EXPECT_EQ(r.marcasExames, QStringList({"Pelk0001", "Pelk0001", "Pelk0002"}));
        EXPECT_EQ(bk::leRotulo(b.midia()), "Pelk0002");
        EXPECT_EQ(norvix::ProfileFile(b.ini()).readInteger("BACKUP", "DiscoAtual", 0), 2);
        EXPECT_EQ(bk::leManifesto(b.raiz.path() + "/disco1").size(), 6);
        EXPECT_EQ(bk::leManifesto(b.midia()).size(), 3);
    }
    // Restoring: the disk in the drive is disk 1, which the set goes on from: refused as the
    // last. Then the last disk, disk 1 by number, and the last again for the database.
    QDir(b.exames()).removeRecursively();
    QDir().rename(b.midia(), b.raiz.path() + "/disco2");
    QDir().rename(b.raiz.path() + "/disco1", b.midia());
    auto poe = [&](const QString& disco) {
        const QString fora = bk::leDisco(b.midia()).numero == 1 ? "/disco1" : "/disco2";
        if (fora == disco) return;
        QDir().rename(b.midia(), b.raiz.path() + fora);
        QDir().rename(b.raiz.path() + disco, b.midia());
    };
    int recusas = 0;
    Respondedor troca([&](const QString& texto) {
        if (texto.contains("não é o último do backup")) ++recusas;
        if (texto.contains("ÚLTIMO") && recusas > 0) poe("/disco2");
        if (texto.contains("disco 1 de 2")) poe("/disco1");
        if (texto.contains("de novo o último")) poe("/disco2");
        return QMessageBox::Ok;
    });
    EXPECT_EQ(restaurar(b), 9);
    EXPECT_EQ(recusas, 1);
    EXPECT_EQ(bk::leDisco(b.midia()).numero, 2);  // the last disk is in the drive for the database
    for (int codigo : {1, 2, 3}) EXPECT_TRUE(QFileInfo::exists(b.exames() + QStringLiteral("/12/%1m.txt").arg(codigo)));
}

TEST(BackupModulo, SemDiscoSeguinteSoFicamMarcadosOsExamesInteirosNoPrimeiro) {
    Bancada b;
    b.exame(12, 1, 1000);
    b.exame(12, 2, 1000);
    qputenv("NORVIX_BACKUP_CAPACIDADE", "4000");
    Respondedor respostas([](const QString&) { return QMessageBox::Cancel; });
    const Resultado r = criar(b, nomes(12, 1) + nomes(12, 2));
    EXPECT_EQ(r.valor, 3);
    EXPECT_EQ(r.marcasExames, QStringList({"Pelk0001", ""}));
    EXPECT_FALSE(QFileInfo::exists(b.midia() + "/Exames/12/2a.txt"));
}

TEST(BackupModulo, MidiaCheiaJaNoPrimeiroArquivoNaoFazBackup) {
    Bancada b;
    b.exame(12, 1, 1000);
    qputenv("NORVIX_BACKUP_CAPACIDADE", "10");
    Respondedor respostas;  // the empty medium cannot hold the exam: said once, then -1
    EXPECT_EQ(criar(b, nomes(12, 1)).valor, -1);
    ASSERT_EQ(respostas.textos.size(), 1);
    EXPECT_TRUE(respostas.textos[0].contains("não cabem em um disco vazio"));
    EXPECT_TRUE(bk::leManifesto(b.midia()).isEmpty());
}

TEST(BackupModulo, MidiaAusenteOuQueFalhaNoMeioNaoMarcaOQueNaoCopiou) {
    {
        Bancada b;
        b.exame(12, 1);
        QDir(b.midia()).removeRecursively();
        Respondedor respostas([](const QString&) { return QMessageBox::Cancel; });
        EXPECT_EQ(criar(b, nomes(12, 1)).valor, -1);
        ASSERT_EQ(respostas.textos.size(), 1);
        EXPECT_TRUE(respostas.textos[0].contains("Insira o disco no drive E:"));
    }
    {
        // The medium refuses the second exam's folder (as a medium pulled out would).
        Bancada b;
        b.exame(12, 1);
        b.exame(13, 2);
        QDir().mkpath(b.midia() + "/Exames");
        escreve(b.midia() + "/Exames/13", "um arquivo onde deveria estar a pasta");
        Respondedor respostas;
        const Resultado r = criar(b, nomes(12, 1) + nomes(13, 2));
        EXPECT_EQ(r.marcasExames, QStringList({"Pelk0001", ""}));
        ASSERT_FALSE(respostas.textos.isEmpty());
        EXPECT_TRUE(respostas.textos[0].contains("Erro ao copiar"));
        EXPECT_EQ(bk::leManifesto(b.midia()).size(), 3);
    }
}

TEST(BackupModulo, NomesQueSaemDaPastaSaoRecusados) {
    Bancada b;
    escreve(b.raiz.path() + "/segredo.txt", "x");
    Respondedor respostas;
    EXPECT_EQ(criar(b, {"..\\segredo.txt"}).valor, -1);
    EXPECT_FALSE(QFileInfo::exists(b.midia() + "/segredo.txt"));
    EXPECT_TRUE(bk::leManifesto(b.midia()).isEmpty());
}

// A real file system that fills in the middle of an exam's three files: a tmpfs of 64 KiB
// (root only; skipped elsewhere). Files of 4097 bytes take two pages each, so the module's
// estimate lets the third exam start and the third file meets ENOSPC.
TEST(BackupModulo, DiscoQueEncheNoMeioDeUmExameNaoGuardaMetadeDele) {
    Bancada b;
    auto monta = [&] { return ::mount("tmpfs", b.midia().toUtf8().constData(), "tmpfs", 0, "size=64k") == 0; };
    if (::geteuid() != 0 || !monta()) GTEST_SKIP() << "sem permissão para montar um tmpfs";
    struct Desmonta {
        QString alvo;
        ~Desmonta() { ::umount2(alvo.toUtf8().constData(), MNT_DETACH); }
    } desmonta{b.midia()};
    for (int codigo : {1, 2, 3}) b.exame(12, codigo, 4097);
    const QString disco1 = b.raiz.path() + "/disco1";
    Respondedor respostas([&](const QString& texto) {
        if (texto.contains("número 2")) {  // the full disk is kept aside, an empty one goes in
            QProcess::execute("cp", {"-a", b.midia(), disco1});
            ::umount2(b.midia().toUtf8().constData(), MNT_DETACH);
            monta();
        }
        return QMessageBox::Ok;
    });
    const Resultado r = criar(b, nomes(12, 1) + nomes(12, 2) + nomes(12, 3));
    EXPECT_EQ(r.marcasExames, QStringList({"Pelk0001", "Pelk0001", "Pelk0002"}));
    EXPECT_EQ(bk::leManifesto(disco1).size(), 6);
    for (const char* f : {"3a.txt", "3d.txt", "3m.txt", "3m.txt.bkp-tmp"})
        EXPECT_FALSE(QFileInfo::exists(disco1 + "/Exames/12/" + f)) << f;
    EXPECT_EQ(bk::leManifesto(b.midia()).size(), 3);
    EXPECT_EQ(le(b.midia() + "/Exames/12/3m.txt"), le(b.exames() + "/12/3m.txt"));
}

// A write-protected medium: said as such to a backup, and still good for a restore.
TEST(BackupModulo, DiscoProtegidoContraGravacaoRecusaOBackupMasRestaura) {
    Bancada b;
    const QByteArray alvo = b.midia().toUtf8();
    if (::geteuid() != 0 || ::mount("tmpfs", alvo.constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "sem permissão para montar um tmpfs";
    struct Desmonta {
        QByteArray alvo;
        ~Desmonta() { ::umount2(alvo.constData(), MNT_DETACH); }
    } desmonta{alvo};
    b.exame(12, 1);
    ASSERT_EQ(criar(b, nomes(12, 1)).valor, 3);
    ASSERT_EQ(::mount("tmpfs", alvo.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    b.exame(12, 2);
    {
        Respondedor respostas([](const QString&) { return QMessageBox::Cancel; });
        EXPECT_EQ(criar(b, nomes(12, 2)).valor, -1);
        ASSERT_EQ(respostas.textos.size(), 1);
        EXPECT_TRUE(respostas.textos[0].contains("protegido contra gravação"));
    }
    QDir(b.exames()).removeRecursively();
    Respondedor respostas;
    EXPECT_EQ(restaurar(b), 3);
    EXPECT_TRUE(QFileInfo::exists(b.exames() + "/12/1d.txt"));
}
