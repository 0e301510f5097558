#include <QCoreApplication>

int runModelTests(int argc, char** argv);
int runStoreTests(int argc, char** argv);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int failures = 0;
    failures += runModelTests(argc, argv);
    failures += runStoreTests(argc, argv);
    return failures == 0 ? 0 : 1;
}
