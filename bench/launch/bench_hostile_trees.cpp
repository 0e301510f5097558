// Walks over hostile accessibility trees built in memory: 100,000 elements, children that list
// their own ancestors, children that are new on every read, and megabyte names. Prints for each
// the time of a full search (a name that is not there), the elements listed, the walks' peak
// memory above the built tree, and what the walks left behind. For a tree that grows on every
// read, what is left is the tree's own growth, not the walk's.

#include "../common/MemoryFigures.h"
#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"
#include "support/FakeAccessibilityTree.h"

#include <QElapsedTimer>

#include <cstdio>
#include <functional>
#include <malloc.h>
#include <memory>

using namespace brevlin;
using brevlin::bench::peakResidentKilobytes;
using brevlin::bench::resetPeak;
using brevlin::bench::residentKilobytes;
using brevlin::testing::FakeAccessibilityTree;

namespace {

void wide(FakeAccessibilityTree& tree) {
    const int window = tree.addNode(0, Role::window);
    for (int i = 0; i < 100'000; ++i)
        tree.addNode(window, Role::staticText, QStringLiteral("Row %1").arg(i));
}

void ancestorLoops(FakeAccessibilityTree& tree) {
    // A tree of 10,000 elements in which every element also lists the root and its parent.
    std::vector<int> level{0};
    while (tree.nodeCount() < 10'000) {
        std::vector<int> next;
        for (int parent : level) {
            for (int i = 0; i < 10 && tree.nodeCount() < 10'000; ++i) {
                const int id = tree.addNode(parent, Role::other, QStringLiteral("G"));
                tree.node(id).children.push_back(0);
                tree.node(id).children.push_back(parent);
                next.push_back(id);
            }
        }
        level = std::move(next);
    }
}

void churning(FakeAccessibilityTree& tree) {
    auto spawn = std::make_shared<std::function<std::vector<int>(FakeAccessibilityTree&)>>();
    *spawn = [spawn = std::weak_ptr(spawn)](FakeAccessibilityTree& t) {
        std::vector<int> fresh;
        for (int i = 0; i < 10; ++i) {
            const int id = t.addNode(-1, Role::other, QStringLiteral("Fresh"));
            t.node(id).childrenOnRead = *spawn.lock();
            fresh.push_back(id);
        }
        return fresh;
    };
    tree.node(0).childrenOnRead = *spawn;
    // Kept alive by the tree's own copies of the answer.
    static std::shared_ptr<void> keep;
    keep = spawn;
}

void megabyteNames(FakeAccessibilityTree& tree) {
    const int window = tree.addNode(0, Role::window);
    for (int i = 0; i < 16; ++i) {
        tree.addNode(window, Role::staticText, QString(1 << 20, QChar(0x00e9 + i)));
    }
}

// Memory freed by the walk goes back to the system, so what is left is what the walk kept.
long settledKilobytes() {
    ::malloc_trim(0);
    return residentKilobytes();
}

void measure(const char* name, const std::function<void(FakeAccessibilityTree&)>& build) {
    double slowest = 0;
    double total = 0;
    std::size_t listed = 0;
    constexpr int runs = 5;
    long before = 0;
    long peak = 0;
    long after = 0;
    {
        auto tree = std::make_unique<FakeAccessibilityTree>();
        tree->addNode(-1, Role::application);
        build(*tree);
        FigmaUITraversal traversal(*tree, FigmaLauncher::defaultTraversalRelations());
        // A tree that grows on every read keeps what it grew; only the walk's own memory counts.
        before = settledKilobytes();
        resetPeak();
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer clock;
            clock.start();
            const bool found =
                traversal.firstMatch(tree->element(0), Sought{Sought::Kind::result, "Not There"})
                    .has_value();
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            total += ms;
            slowest = std::max(slowest, ms);
            if (found)
                std::printf("  unexpected match\n");
        }
        peak = peakResidentKilobytes();
        after = settledKilobytes();
        listed =
            traversal.collectDescendants(tree->element(0), FigmaUITraversal::searchDepth).size();
    }
    std::printf("%-34s %7zu elements  mean %8.1f ms  slowest %8.1f ms  walk peak +%6.1f MB  "
                "left after +%5.1f MB\n",
                name, listed, total / runs, slowest, double(peak - before) / 1024,
                double(after - before) / 1024);
}

} // namespace

int main() {
    std::printf("full search over hostile in-memory trees (walk limit %zu elements, depth %d):\n",
                FigmaUITraversal::maximumWalkElements, FigmaUITraversal::searchDepth);
    measure("100,000 elements", wide);
    measure("children listing their ancestors", ancestorLoops);
    measure("children new on every read", churning);
    measure("16 names of a megabyte", megabyteNames);
    return 0;
}
