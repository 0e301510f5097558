// Cost of the accessibility traversal itself, over an in-memory tree of 10,000 elements whose
// reads are as cheap as they can be. "reads only" issues the same attribute reads as the walk
// without any traversal logic; the difference is our own cost per element.

#include "launch/FigmaLauncher.h"
#include "launch/FigmaUITraversal.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

using namespace brevlin;

namespace {

constexpr int elementCount = 10'000;

class NodeRef : public AXElementRef {
public:
    explicit NodeRef(int id)
        : id(id) {}
    std::size_t identityHash() const override { return std::size_t(id) * 0x9E3779B97F4A7C15ull; }
    bool equals(const AXElementRef& other) const override {
        return static_cast<const NodeRef&>(other).id == id;
    }
    const int id;
};

// Every answer is prepared in advance, so a read costs a comparison and a copy.
class PreparedTree : public AccessibilityApi {
public:
    PreparedTree() {
        for (int i = 0; i < elementCount; ++i)
            elements.emplace_back(std::make_shared<NodeRef>(i));
        children.resize(elementCount);
        roles.resize(elementCount);
        titles.resize(elementCount);
        // 0 is the application, 1 its window (also its focused, main and only window); below
        // the window every element has up to ten children.
        roles[0] = AXValue::fromString("AXApplication");
        roles[1] = AXValue::fromString("AXWindow");
        titles[1] = AXValue::fromString("Untitled");
        children[0].push_back(AXValue::fromElement(elements[1]));
        windowList = AXValue::fromList({AXValue::fromElement(elements[1])});
        for (int i = 2; i < elementCount; ++i) {
            const int parent = i < 12 ? 1 : (i - 2) / 10 + 1;
            children[std::size_t(parent)].push_back(AXValue::fromElement(elements[i]));
            roles[std::size_t(i)] = AXValue::fromString(i % 3 ? "AXStaticText" : "AXGroup");
            if (i % 3)
                titles[std::size_t(i)] = AXValue::fromString(QStringLiteral("Plugin %1").arg(i));
        }
        for (auto& list : children)
            childLists.push_back(AXValue::fromList(list));
    }

    bool isProcessTrusted(bool) override { return true; }
    AXElement applicationElement(qint64) override { return elements[0]; }
    AXError copyAttributeValue(const AXElement& element, const QString& attribute,
                               AXValue& value) override {
        const int id = static_cast<const NodeRef*>(element.ref())->id;
        if (attribute == children_) {
            if (children[std::size_t(id)].empty())
                return axNoValue;
            value = childLists[std::size_t(id)];
            return axSuccess;
        }
        if (id == 0 && (attribute == focusedWindow || attribute == mainWindow)) {
            value = AXValue::fromElement(elements[1]);
            return axSuccess;
        }
        if (id == 0 && attribute == windows) {
            value = windowList;
            return axSuccess;
        }
        if (attribute == role) {
            value = roles[std::size_t(id)];
            return axSuccess;
        }
        if (attribute == title && titles[std::size_t(id)].kind != AXValue::Kind::none) {
            value = titles[std::size_t(id)];
            return axSuccess;
        }
        return axAttributeUnsupported;
    }
    AXError setAttributeValue(const AXElement&, const QString&, const AXValue&) override {
        return axAttributeUnsupported;
    }
    AXError performAction(const AXElement&, const QString&) override { return axActionUnsupported; }

    std::vector<AXElement> elements;
    std::vector<std::vector<AXValue>> children;
    std::vector<AXValue> childLists;
    std::vector<AXValue> roles;
    std::vector<AXValue> titles;
    AXValue windowList;
    const QString children_ = QStringLiteral("AXChildren");
    const QString focusedWindow = QStringLiteral("AXFocusedWindow");
    const QString mainWindow = QStringLiteral("AXMainWindow");
    const QString windows = QStringLiteral("AXWindows");
    const QString role = QStringLiteral("AXRole");
    const QString title = QStringLiteral("AXTitle");
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
    FigmaUITraversal traversal(tree(), FigmaLauncher::defaultTraversalAttributes());
    std::size_t found = 0;
    PerElementTimer timer(state);
    for (auto _ : state) {
        timer.time([&] {
            found = traversal.collectDescendants(tree().elements[0], FigmaUITraversal::searchDepth)
                        .size();
        });
        benchmark::DoNotOptimize(found);
    }
    if (found != elementCount)
        state.SkipWithError("the walk did not reach every element");
}
BENCHMARK(BM_FullWalk)->Unit(benchmark::kMillisecond);

void BM_FindMatchingResult(benchmark::State& state) {
    FigmaUITraversal traversal(tree(), FigmaLauncher::defaultTraversalAttributes());
    // The last labelled element in walk order (9999 has no title): every element is visited.
    const QString name = QStringLiteral("  plugin %1 ").arg(elementCount - 2);
    PerElementTimer timer(state);
    for (auto _ : state) {
        std::optional<AXElement> match;
        timer.time([&] { match = traversal.findMatchingResult(tree().elements[0], name); });
        if (!match)
            state.SkipWithError("no match");
        benchmark::DoNotOptimize(match);
    }
}
BENCHMARK(BM_FindMatchingResult)->Unit(benchmark::kMillisecond);

// The same reads as the search, straight from the tree: the platform's share.
void BM_ReadsOnly(benchmark::State& state) {
    PreparedTree& t = tree();
    const QStringList attributes = FigmaLauncher::defaultTraversalAttributes();
    const QStringList labelAttributes = {"AXTitle", "AXDescription", "AXValue",
                                         "AXPlaceholderValue"};
    PerElementTimer timer(state);
    for (auto _ : state) {
        timer.time([&] {
            for (const AXElement& element : t.elements) {
                for (const QString& attribute : attributes) {
                    AXValue value;
                    benchmark::DoNotOptimize(t.copyAttributeValue(element, attribute, value));
                }
                for (const QString& attribute : labelAttributes) {
                    AXValue value;
                    if (t.copyAttributeValue(element, attribute, value) == axSuccess)
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
