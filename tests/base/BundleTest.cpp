#include <gtest/gtest.h>

#include "base/Bundle.h"

#include <QFile>
#include <QTemporaryDir>

TEST(Bundle, ReadsTextValuesOfItsInfoFileOnly)
{
    QTemporaryDir dir;
    QFile f(dir.filePath("info.json"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"SORVANE_API_BASE_URL": "http://127.0.0.1:8080", "version": "1.2.3", "n": 4})");
    f.close();
    Bundle bundle(dir.path());
    EXPECT_EQ(bundle.info("SORVANE_API_BASE_URL"), QString("http://127.0.0.1:8080"));
    EXPECT_EQ(bundle.version(), QString("1.2.3"));
    EXPECT_FALSE(bundle.info("n"));
    EXPECT_EQ(bundle.catsDir(), dir.path() + "/Cats");
    EXPECT_EQ(bundle.webDir(), dir.path() + "/Web");

    Bundle empty(dir.filePath("missing"));
    EXPECT_FALSE(empty.info("SORVANE_API_BASE_URL"));
    EXPECT_EQ(empty.version(), QString(ZK_VERSION));
}
