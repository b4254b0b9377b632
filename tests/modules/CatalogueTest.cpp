#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <unistd.h>
#include "ModuleTestSupport.h"
#include "modules/MapCatalogue.h"
#include "platform/ui/MessageSeam.h"

using norvix::TMapButton;
using norvix::TMapCatalogue;

using modtest::isLoaded;

namespace {

// A 48 x 24 strip: the left square red with a magenta corner, the right square blue.
void writeStrip(const QString& path, int width = 48) {
    QImage img(width, 24, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 255));
    QPainter p(&img);
    p.fillRect(0, 0, 24, 20, Qt::red);
    if (width >= 48) p.fillRect(24, 0, 24, 24, Qt::blue);
    p.end();
    ASSERT_TRUE(img.save(path, "BMP"));
}

QStringList captions(const TMapCatalogue& c) {
    QStringList out;
    for (const TMapButton& b : c.Buttons()) out << b.caption;
    return out;
}

}  // namespace

TEST(Catalogue, NamesBAcGiveCatalogueCbAAndToolbarAbc) {
    norvix::RecordingMessageSeam seam;
    modtest::MapsDir maps;
    maps.copy("map_single", QStringLiteral("b.so"));
    maps.copy("map_single", QStringLiteral("A.so"));
    maps.copy("map_multi", QStringLiteral("c.so"));
    int progress = 0;
    TMapCatalogue c;
    c.BuildCatalogue(maps.path(), [&] { progress += 6; });
    EXPECT_EQ(c.Items(), (QStringList{"Multi c.so", "Wizard", "4", "3.1.0.0",  //
                                      "Mapa b.so", "Simples", "1", "1.2.3.4",  //
                                      "Mapa A.so", "Simples", "1", "1.2.3.4"}));
    EXPECT_EQ(captions(c), (QStringList{"A", "b", "c"}));
    EXPECT_TRUE(c.Buttons()[0].singleMap);
    EXPECT_FALSE(c.Buttons()[2].singleMap);
    EXPECT_EQ(c.Buttons()[2].hint, "Multi c.so");
    EXPECT_EQ(progress, 36);  // 6 per file found, 6 per module processed
    EXPECT_TRUE(seam.messages.empty());
    EXPECT_FALSE(isLoaded(maps.file(QStringLiteral("A.so"))));  // released after reading
    EXPECT_FALSE(isLoaded(maps.file(QStringLiteral("c.so"))));

    for (const char* n : {"zebra.so", "Beta2.so", "10mapas.so"}) maps.copy("map_single", QString::fromLatin1(n));
    c.BuildCatalogue(maps.path());
    EXPECT_EQ(captions(c), (QStringList{"10mapas", "A", "b", "Beta2", "c", "zebra"}));
    EXPECT_EQ(c.Items()[0], "Mapa zebra.so");

    // Accented names, and names differing only in case (upper case first).
    for (const char* n : {"Élan.so", "eixo.so", "ZEBRA.so"}) maps.copy("map_single", QString::fromUtf8(n));
    c.BuildCatalogue(maps.path());
    EXPECT_EQ(captions(c), (QStringList{"10mapas", "A", "b", "Beta2", "c", "eixo", "ZEBRA", "zebra",
                                        QString::fromUtf8("Élan")}));
}

TEST(Catalogue, BitmapStripGivesHotAndNormalImagesWithMagentaTransparent) {
    modtest::MapsDir maps;
    maps.copy("map_single", QStringLiteral("Halden.so"));
    maps.copy("map_single", QStringLiteral("Sorvik.so"));
    maps.copy("map_single", QStringLiteral("Semimagem.so"));
    maps.copy("map_single", QStringLiteral("Estreito.so"));
    maps.copy("map_single", QStringLiteral("Danificado.so"));
    maps.write(QStringLiteral("Danificado.bmp"), "BM nao e imagem");  // unreadable: image 1
    writeStrip(maps.file(QStringLiteral("Halden.bmp")));
    writeStrip(maps.file(QStringLiteral("Sorvik.bmp")));
    writeStrip(maps.file(QStringLiteral("Estreito.bmp")), 30);  // too small: image 1
    TMapCatalogue c;
    c.BuildCatalogue(maps.path());
    ASSERT_EQ(captions(c), (QStringList{"Danificado", "Estreito", "Halden", "Semimagem", "Sorvik"}));
    for (int i : {0, 1, 3}) EXPECT_TRUE(c.Buttons()[i].useImage1);
    for (int i : {2, 4}) {
        const TMapButton& b = c.Buttons()[i];
        ASSERT_FALSE(b.useImage1);
        ASSERT_EQ(b.hot.size(), QSize(24, 24));
        ASSERT_EQ(b.normal.size(), QSize(24, 24));
        const QImage hot = b.hot.toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage normal = b.normal.toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(QColor(hot.pixel(5, 5)), QColor(Qt::red));
        EXPECT_EQ(qAlpha(hot.pixel(5, 22)), 0);  // the magenta band is transparent
        EXPECT_EQ(QColor(normal.pixel(5, 22)), QColor(Qt::blue));
        EXPECT_EQ(qAlpha(normal.pixel(5, 22)), 255);
    }
}

TEST(Catalogue, BitmapIsTheModuleNameWithBmpExactlyALinkToAStripCounts) {
    modtest::MapsDir maps;
    QTemporaryDir elsewhere;
    writeStrip(elsewhere.filePath(QStringLiteral("faixa.bmp")));
    maps.copy("map_single", QStringLiteral("Ligado.so"));
    maps.copy("map_single", QStringLiteral("Caixa.so"));
    maps.copy("map_single", QStringLiteral("Pasta.so"));
    ASSERT_TRUE(QFile::link(elsewhere.filePath(QStringLiteral("faixa.bmp")), maps.file(QStringLiteral("Ligado.bmp"))));
    writeStrip(maps.file(QStringLiteral("Caixa.BMP")));  // another name
    ASSERT_TRUE(QDir(maps.path()).mkdir(QStringLiteral("Pasta.bmp")));
    TMapCatalogue c;
    c.BuildCatalogue(maps.path());
    ASSERT_EQ(captions(c), (QStringList{"Caixa", "Ligado", "Pasta"}));
    EXPECT_TRUE(c.Buttons()[0].useImage1);
    EXPECT_FALSE(c.Buttons()[1].useImage1);
    EXPECT_TRUE(c.Buttons()[2].useImage1);
}

TEST(Catalogue, LeadingBlankKindIsSimplesButClickIsMultiMap) {
    modtest::MapsDir maps;
    maps.copy("map_blank1", QStringLiteral("Espaco.so"));
    TMapCatalogue c;
    c.BuildCatalogue(maps.path());
    EXPECT_EQ(c.Items(), (QStringList{"Com Espaco", "Simples", "1", ""}));  // no version note
    ASSERT_EQ(c.Buttons().size(), 1);
    EXPECT_FALSE(c.Buttons()[0].singleMap);
}

TEST(Catalogue, ShortOrOddInformationStillKeepsGroupsOfFour) {
    norvix::RecordingMessageSeam seam;
    modtest::MapsDir maps;
    maps.copy("map_twolines", QStringLiteral("a_duas.so"));   // button, no texts
    maps.copy("map_kind7", QStringLiteral("b_sete.so"));      // four texts, empty kind
    maps.copy("map_oneline", QStringLiteral("c_uma.so"));     // nothing
    maps.copy("map_empty", QStringLiteral("d_vazio.so"));     // nothing
    maps.copy("map_binary", QStringLiteral("e_binario.so"));  // one line: nothing
    maps.copy("map_thousand", QStringLiteral("f_mil.so"));
    maps.copy("map_pastlimit", QStringLiteral("g_limite.so"));
    TMapCatalogue c;
    c.BuildCatalogue(maps.path());
    EXPECT_EQ(c.Items(), (QStringList{"Depois do limite", "Simples", "1", "",  //
                                      "Mil linhas", "Simples", "1", "",        //
                                      "Tipo Sete", "", "3", ""}));
    EXPECT_EQ(c.Items().size() % 4, 0);
    EXPECT_EQ(captions(c), (QStringList{"a_duas", "b_sete", "f_mil", "g_limite"}));
    EXPECT_EQ(c.Buttons()[0].hint, "Duas Linhas");
    EXPECT_TRUE(c.Buttons()[0].singleMap);
    EXPECT_TRUE(seam.messages.empty());
}

TEST(Catalogue, NonLibraryFileGivesTheErrorNumberThenTheNextModule) {
    norvix::RecordingMessageSeam seam;
    modtest::MapsDir maps;
    maps.copy("map_single", QStringLiteral("a.so"));
    maps.write(QStringLiteral("b.so"), "isto nao e uma biblioteca");
    maps.copy("map_single", QStringLiteral("c.so"));
    maps.copy("map_noinfo", QStringLiteral("d.so"));  // no InfoMapa: silent, no button
    TMapCatalogue c;
    testing::internal::CaptureStderr();
    c.BuildCatalogue(maps.path());
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "8");
    EXPECT_EQ(seam.messages[0].caption, "Erro");
    EXPECT_EQ(captions(c), (QStringList{"a", "c"}));
    EXPECT_EQ(c.Items().size(), 8);
    EXPECT_FALSE(isLoaded(maps.file(QStringLiteral("d.so"))));
}

TEST(Catalogue, OnlyRegularFilesAndLinksToThemAreTaken) {
    norvix::RecordingMessageSeam seam;
    modtest::MapsDir maps;
    const QString real = maps.copy("map_single", QStringLiteral("real.so"));
    QDir(maps.path()).mkdir(QStringLiteral("pasta.so"));
    QFile::link(real, maps.file(QStringLiteral("ligacao.so")));
    QFile::link(maps.file(QStringLiteral("sumiu.so")), maps.file(QStringLiteral("quebrada.so")));
    QFile::link(maps.file(QStringLiteral("pasta.so")), maps.file(QStringLiteral("ligapasta.so")));
    maps.copy("map_single", QStringLiteral("MAIUSC.SO"));  // the pattern ignores case
    maps.copy("map_single", QStringLiteral("outro.so.bak"));
    maps.write(QStringLiteral("leia.txt"), "x");
    int found = 0;
    TMapCatalogue c;
    c.BuildCatalogue(maps.path(), [&] { ++found; });
    EXPECT_EQ(captions(c), (QStringList{"ligacao", "MAIUSC", "real"}));
    EXPECT_EQ(found, 6);
    EXPECT_TRUE(seam.messages.empty());
}

TEST(Catalogue, UnreadableModuleIsReportedAndSkipped) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    norvix::RecordingMessageSeam seam;
    modtest::MapsDir maps;
    const QString locked = maps.copy("map_single", QStringLiteral("trancado.so"));
    maps.copy("map_single", QStringLiteral("zeta.so"));
    QFile::setPermissions(locked, QFileDevice::Permissions{});
    TMapCatalogue c;
    testing::internal::CaptureStderr();
    c.BuildCatalogue(maps.path());
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(seam.messages.size(), 1u);
    EXPECT_EQ(seam.messages[0].text, "13");
    EXPECT_EQ(captions(c), QStringList{"zeta"});
}

TEST(Catalogue, MissingOrEmptyMapsDirectoryGivesAnEmptyCatalogueEachBuildReplaces) {
    norvix::RecordingMessageSeam seam;
    int calls = 0;
    TMapCatalogue c;
    c.BuildCatalogue(QStringLiteral("/nao/existe/Mapas"), [&] { ++calls; });
    EXPECT_TRUE(c.Items().isEmpty());
    c.BuildCatalogue(QString(), [&] { ++calls; });  // not the working directory
    EXPECT_TRUE(c.Buttons().isEmpty());
    modtest::MapsDir maps;
    c.BuildCatalogue(maps.path(), [&] { ++calls; });
    EXPECT_TRUE(c.Items().isEmpty());
    EXPECT_EQ(calls, 0);
    // Each build replaces the previous one entirely.
    maps.copy("map_single", QStringLiteral("Halden.so"));
    c.BuildCatalogue(maps.path());
    c.BuildCatalogue(maps.path());
    EXPECT_EQ(c.Items().size(), 4);
    EXPECT_EQ(c.Buttons().size(), 1);
    QFile::remove(maps.file(QStringLiteral("Halden.so")));
    c.BuildCatalogue(maps.path());
    EXPECT_TRUE(c.Items().isEmpty());
    EXPECT_TRUE(c.Buttons().isEmpty());
    EXPECT_TRUE(seam.messages.empty());
}

TEST(Catalogue, PlacedButtonsFollowTheToolbarOrderAndClickKind) {
    modtest::MapsDir maps;
    maps.copy("map_multi", QStringLiteral("Truvan.so"));
    maps.copy("map_single", QStringLiteral("halden.so"));
    maps.copy("map_blank1", QStringLiteral("Espaco.so"));
    writeStrip(maps.file(QStringLiteral("halden.bmp")));
    TMapCatalogue c;
    c.BuildCatalogue(maps.path());
    QToolBar toolbar;
    QPixmap defaultImage(24, 24);
    defaultImage.fill(Qt::green);
    QStringList single, multi;
    const QList<QToolButton*> buttons = c.PlaceButtons(
        &toolbar, QIcon(defaultImage), [&](QToolButton* b) { single << b->text(); },
        [&](QToolButton* b) { multi << b->text(); });
    ASSERT_EQ(buttons.size(), 3);
    EXPECT_EQ(buttons[0]->text(), "Espaco");
    EXPECT_EQ(buttons[1]->text(), "halden");
    EXPECT_EQ(buttons[2]->text(), "Truvan");
    EXPECT_EQ(buttons[1]->toolTip(), "Mapa halden.so");
    EXPECT_EQ(buttons[1]->parent(), &toolbar);
    const QImage own = buttons[1]->icon().pixmap(24, 24).toImage();
    EXPECT_EQ(QColor(own.pixel(5, 22)), QColor(Qt::blue));  // the normal image
    const QImage fallback = buttons[0]->icon().pixmap(24, 24).toImage();
    EXPECT_EQ(QColor(fallback.pixel(5, 5)), QColor(Qt::green));
    for (QToolButton* b : buttons) b->click();
    EXPECT_EQ(single, QStringList{"halden"});
    EXPECT_EQ(multi, (QStringList{"Espaco", "Truvan"}));  // " 1" is not exactly "1"
}
