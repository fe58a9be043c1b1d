#include "CorpusRun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace CorpusRun {

void test(const QByteArray &input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
}

int main(int argc, char **argv, const std::function<int(const QByteArray &)> &each)
{
    int runs = 0;
    for (int i = 1; i < argc; ++i) {
        QStringList files;
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir())
            for (const QFileInfo &info : QDir(arg).entryInfoList(QDir::Files, QDir::Name))
                files << info.filePath();
        else
            files << arg;
        for (const QString &name : files) {
            QFile file(name);
            if (file.open(QIODevice::ReadOnly))
                runs += each(file.readAll());
        }
    }
    std::printf("ran %d inputs\n", runs);
    return runs > 0 ? 0 : 1;
}

} // namespace CorpusRun
