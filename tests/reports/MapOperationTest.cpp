// The exam data loader: both a.txt layouts, both decimal separators, and a failed load that
// names the missing file and keeps the exam loaded before.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include "platform/Errors.h"
#include "platform/ui/MessageSeam.h"
#include "records/UArquivosExame.h"
#include "reports/UBMapOperation.h"

using norvix::TBMapOperation;

namespace {

struct Exam {
    TMatrizAngAnel m, d;
    TMatrizAng meridians;
};

std::unique_ptr<Exam> sampleExam(double base) {
    auto e = std::make_unique<Exam>();
    for (int i = 0; i < 360; ++i) {
        e->meridians[i] = i % 32;
        for (int r = 0; r < 33; ++r) {
            e->m[i][r] = base + i * 0.01 + r * 0.25;
            e->d[i][r] = r * 0.1;
        }
    }
    return e;
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

void writeExam(const QString& prefix, const Exam& e, const TPupila& pupil) {
    write(prefix + "m.txt", norvix::TextoTabela(e.m, 32));
    write(prefix + "d.txt", norvix::TextoTabela(e.d, 32));
    write(prefix + "a.txt", norvix::TextoMeridianos(e.meridians, 312.4, 245.6, pupil));
}

class MapOperation : public ::testing::Test {
protected:
    QTemporaryDir dir;
    norvix::RecordingMessageSeam seam;
    TBMapOperation loader;
    QString prefix(const char* name) const { return dir.filePath(name); }
};

}  // namespace

TEST_F(MapOperation, LoadsTheThreeFilesOfAnExam) {
    const auto exam = sampleExam(7.5);
    const TPupila pupil = {10, -20, 30, 40};
    writeExam(prefix("12"), *exam, pupil);
    ASSERT_TRUE(loader.Load(prefix("12")));
    EXPECT_EQ(loader.ArquivoD(), prefix("12") + "d.txt");
    EXPECT_DOUBLE_EQ(loader.M()[359][32], 7.5 + 3.59 + 8.0);
    EXPECT_DOUBLE_EQ(loader.D()[10][5], 0.5);
    EXPECT_EQ(loader.Meridianos()[33], 1);
    EXPECT_EQ(loader.Pupila()[1], -20);
    EXPECT_DOUBLE_EQ(loader.CentroX(), 312.0);  // written rounded
    EXPECT_TRUE(seam.messages.empty());
    EXPECT_EQ(&norvix::MapOperation(), &loader);
}

TEST_F(MapOperation, OlderLayoutAndCommaDecimalsReadTheSame) {
    const auto exam = sampleExam(7.5);
    writeExam(prefix("1"), *exam, TPupila{1, 2, 3, 4});
    // The older a.txt has no "@" line and no pupil record; d.txt written with ",".
    QFile a(prefix("1") + "a.txt");
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = a.readAll().split('\n');
    a.close();
    lines.remove(2, 5);
    write(prefix("1") + "a.txt", lines.join('\n'));
    QByteArray d = norvix::TextoTabela(exam->d, 32);
    write(prefix("1") + "d.txt", d.replace('.', ','));

    ASSERT_TRUE(loader.Load(prefix("1"))) << seam.texts().join(" | ").toStdString();
    EXPECT_DOUBLE_EQ(loader.D()[10][5], 0.5);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(loader.Pupila()[i], 0);
    EXPECT_EQ(loader.Meridianos()[0], 0);
    EXPECT_EQ(loader.Meridianos()[359], 359 % 32);
}

TEST_F(MapOperation, AMissingOrDamagedFileFailsAndKeepsTheExamLoadedBefore) {
    writeExam(prefix("1"), *sampleExam(7.0), TPupila{1, 2, 3, 4});
    ASSERT_TRUE(loader.Load(prefix("1")));
    writeExam(prefix("2"), *sampleExam(9.0), TPupila{5, 6, 7, 8});

    QFile::remove(prefix("2") + "d.txt");
    EXPECT_FALSE(loader.Load(prefix("2")));
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "Arquivo d.txt não encontrado!");
    EXPECT_EQ(seam.messages[0].caption, "Erro");

    write(prefix("2") + "d.txt", "1.0 2.0\r\nabc\r\n");
    QString error;
    EXPECT_FALSE(loader.Load(prefix("2"), true, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(seam.messages.size(), 1u);  // quiet
    EXPECT_DOUBLE_EQ(loader.M()[0][0], 7.0);
    EXPECT_EQ(loader.Pupila()[3], 4);
}

TEST(MapOperationToFloat, EitherSeparator) {
    EXPECT_DOUBLE_EQ(TBMapOperation::ToFloat("43.25"), 43.25);
    EXPECT_DOUBLE_EQ(TBMapOperation::ToFloat("43,25"), 43.25);
    EXPECT_THROW(TBMapOperation::ToFloat("4x"), norvix::ConversionError);
}
