// Cost of the accessibility traversal itself, over an in-memory tree of 10,000 elements whose
// reads are as cheap as they can be. "reads only" issues the same reads as the walk
// without any traversal logic; the difference is our own cost per element.

#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

using namespace brevlin;

namespace {

constexpr int elementCount = 10'000;

class NodeRef : public AccessibleElementRef {
public:
    explicit NodeRef(int id)
        : id(id) {}
    std::size_t identityHash() const override { return std::size_t(id) * 0x9E3779B97F4A7C15ull; }
    bool equals(const AccessibleElementRef& other) const override {
        return static_cast<const NodeRef&>(other).id == id;
    }
    const int id;
};

// Every answer is prepared in advance, so a read costs a comparison and a copy.
class PreparedTree : public AccessibilityApi {
public:
    PreparedTree() {
        for (int i = 0; i < elementCount; ++i)
            all.emplace_back(std::make_shared<NodeRef>(i));
        children.resize(elementCount);
        roles.resize(elementCount, Role::other);
        titles.resize(elementCount);
        // 0 is the application, 1 its window (also its focused, main and only window); below
        // the window every element has up to ten children.
        roles[0] = Role::application;
        roles[1] = Role::window;
        titles[1] = QStringLiteral("Untitled");
        children[0].push_back(all[1]);
        windowList = {all[1]};
        for (int i = 2; i < elementCount; ++i) {
            const int parent = i < 12 ? 1 : (i - 2) / 10 + 1;
            children[std::size_t(parent)].push_back(all[std::size_t(i)]);
            roles[std::size_t(i)] = i % 3 ? Role::staticText : Role::other;
            if (i % 3)
                titles[std::size_t(i)] = QStringLiteral("Plugin %1").arg(i);
        }
    }

    static int id(const AccessibleElement& element) {
        return static_cast<const NodeRef*>(element.ref())->id;
    }

    bool isProcessTrusted(bool) override { return true; }
    Finding find(const AccessibleElement&, const Sought&) override { return {}; }
    AccessibleElement applicationElement(qint64) override { return all[0]; }
    Role role(const AccessibleElement& element) override { return roles[std::size_t(id(element))]; }
    std::optional<QString> text(const AccessibleElement& element, LabelText which) override {
        if (which != LabelText::title)
            return std::nullopt;
        return titles[std::size_t(id(element))];
    }
    std::vector<AccessibleElement> elements(const AccessibleElement& element,
                                            Relation relation) override {
        const int i = id(element);
        switch (relation) {
        case Relation::children:
            return children[std::size_t(i)];
        case Relation::focusedWindow:
        case Relation::mainWindow:
        case Relation::windows:
            return i == 0 ? windowList : std::vector<AccessibleElement>();
        case Relation::contents:
            return {};
        }
        return {};
    }
    std::optional<AccessibleElement> parent(const AccessibleElement&) override {
        return std::nullopt;
    }
    bool isFocused(const AccessibleElement&) override { return false; }
    bool isSelected(const AccessibleElement&) override { return false; }
    bool press(const AccessibleElement&) override { return false; }
    bool focus(const AccessibleElement&) override { return false; }
    bool select(const AccessibleElement&) override { return false; }
    bool setText(const AccessibleElement&, const QString&) override { return false; }
    bool raise(const AccessibleElement&) override { return false; }

    std::vector<AccessibleElement> all;
    std::vector<std::vector<AccessibleElement>> children;
    std::vector<Role> roles;
    std::vector<std::optional<QString>> titles;
    std::vector<AccessibleElement> windowList;
};

PreparedTree& tree() {
    static PreparedTree instance;
    return instance;
}

// Times the loop body itself on this thread's CPU clock (the machine may be busy with other
// work) and reports nanoseconds per element of the tree.
class PerElementTimer {
public:
    explicit PerElementTimer(benchmark::State& state)
        : m_state(state) {}
    ~PerElementTimer() {
        m_state.counters["cpu_ns_per_element"] =
            m_totalNs / (double(m_state.iterations()) * double(elementCount));
    }
    template <typename F> void time(F&& body) {
        const double start = threadCpuNs();
        body();
        m_totalNs += threadCpuNs() - start;
    }

private:
    static double threadCpuNs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
    }
    benchmark::State& m_state;
    double m_totalNs = 0;
};

void BM_FullWalk(benchmark::State& state) {
    FigmaUITraversal traversal(tree(), FigmaLauncher::defaultTraversalRelations());
    std::size_t found = 0;
    PerElementTimer timer(state);
    for (auto _ : state) {
        timer.time([&] {
            found =
                traversal.collectDescendants(tree().all[0], FigmaUITraversal::searchDepth).size();
        });
        benchmark::DoNotOptimize(found);
    }
    if (found != elementCount)
        state.SkipWithError("the walk did not reach every element");
}
BENCHMARK(BM_FullWalk)->Unit(benchmark::kMillisecond);

void BM_FindMatchingResult(benchmark::State& state) {
    FigmaUITraversal traversal(tree(), FigmaLauncher::defaultTraversalRelations());
    // The last labelled element in walk order (9999 has no title): every element is visited.
    const QString name = QStringLiteral("  plugin %1 ").arg(elementCount - 2);
    PerElementTimer timer(state);
    for (auto _ : state) {
        std::optional<AccessibleElement> match;
        timer.time([&] {
            match = traversal.firstMatch(tree().all[0], Sought{Sought::Kind::result, name});
        });
        if (!match)
            state.SkipWithError("no match");
        benchmark::DoNotOptimize(match);
    }
}
BENCHMARK(BM_FindMatchingResult)->Unit(benchmark::kMillisecond);

// The same reads as the search, straight from the tree: the platform's share.
void BM_ReadsOnly(benchmark::State& state) {
    PreparedTree& t = tree();
    const std::vector<Relation> relations = FigmaLauncher::defaultTraversalRelations();
    PerElementTimer timer(state);
    for (auto _ : state) {
        timer.time([&] {
            for (const AccessibleElement& element : t.all) {
                for (Relation relation : relations)
                    benchmark::DoNotOptimize(t.elements(element, relation));
                for (LabelText which : {LabelText::title, LabelText::description, LabelText::value,
                                        LabelText::placeholder}) {
                    if (t.text(element, which))
                        break;
                }
            }
        });
    }
}
BENCHMARK(BM_ReadsOnly)->Unit(benchmark::kMillisecond);

void BM_NormalizedLabel(benchmark::State& state) {
    const QString ascii = QStringLiteral("  Content Reel ");
    const QString accented = QStringLiteral("  Café Tools Ünïcödé ");
    const bool unicode = state.range(0) != 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(FigmaUITraversal::normalizedLabel(unicode ? accented : ascii));
}
BENCHMARK(BM_NormalizedLabel)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
