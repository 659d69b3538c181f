// The JUnit report of `run --junit`, through the program on the native host with the
// misbehaving test module: a passing, a failing and a crashing scenario in one run, and a
// malformed one in another. Each report is parsed with libxml2 and checked against the
// schema of what the bench emits (junit.xsd beside this file) with xmllint.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/xpath.h>

#include <fstream>
#include <memory>

#include "bench_native_build.h"
#include "bench_program.h"
#include "junit_report.h"

namespace {

namespace fs = std::filesystem;
using kestrel::testing::ProgramResult;
using kestrel::testing::read_text;
using kestrel::testing::run_shell;
using kestrel::testing::scratch;

// A parsed report and XPath queries over it.
class Report {
public:
    explicit Report(const fs::path& file)
        : document_(xmlReadFile(file.string().c_str(), nullptr, XML_PARSE_NONET), xmlFreeDoc) {}
    bool parsed() const { return document_ != nullptr; }

    // The string value of an XPath expression, e.g. "string(//testcase[1]/@name)".
    std::string text(const std::string& expression) const {
        auto result = evaluate(expression);
        if (!result) return "<no result>";
        xmlChar* value = xmlXPathCastToString(result.get());
        std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
        xmlFree(value);
        return text;
    }
    double number(const std::string& expression) const {
        auto result = evaluate(expression);
        return result ? xmlXPathCastToNumber(result.get()) : -1;
    }

private:
    std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> evaluate(const std::string& expression) const {
        std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> context(xmlXPathNewContext(document_.get()),
                                                                               xmlXPathFreeContext);
        return {xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression.c_str()), context.get()),
                xmlXPathFreeObject};
    }
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> document_;
};

// xmllint's verdict on the file against the committed schema.
ProgramResult schema_check(const fs::path& file) {
    return run_shell("xmllint --noout --schema '" + std::string(KESTREL_JUNIT_SCHEMA) + "' '" + file.string() + "'");
}

class BenchJunit : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(build.missing(), "");
        folder = scratch(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder / "suite");
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(folder / "suite" / (name + ".scenario")) << text;
    }
    // The faulty gauge's needle callback: mode 0 returns 0, mode 1 crashes.
    static std::string faulty(int mode, const std::string& expectation) {
        return "module KESTREL_FAULTY\ngauge Faulty\nupdate 2\nset 1 " + std::to_string(mode) + "\nupdate 3\n" + expectation;
    }
    // The sanitized host stops a write through a null pointer before it happens; told to
    // abort there, it dies by a signal as an unsanitized host would.
    ProgramResult bench(const std::string& scenarios) {
        return run_shell("cd '" + folder.string() + "' && UBSAN_OPTIONS=abort_on_error=1 '" + KESTREL_BENCH_PROGRAM +
                         "' run --native --host '" +
                         build.host.string() + "' --modules '" + build.modules.string() +
                         "' --out out --junit reports/junit.xml " + scenarios);
    }

    const kestrel::testing::FaultyModuleHost build = kestrel::testing::faulty_module_host();
    fs::path folder;
};

TEST_F(BenchJunit, PassingFailingAndCrashingScenariosAreOneTestsuiteOfTestcases) {
    write("passes", faulty(0, "expect value 0.0 0\n"));
    write("fails", faulty(0, "expect value 0.0 0\nexpect value 0.0 5\nexpect flags 0.0 0x10\n"));
    write("crashes", faulty(1, "expect value 0.0 0\n"));
    const auto run = bench("suite/passes.scenario suite/fails.scenario suite/crashes.scenario");
    EXPECT_EQ(run.status, 1) << "exit statuses stay as they are: a failed scenario is 1\n" << run.out << run.err;
    EXPECT_NE(run.out.find("JUnit report:  reports/junit.xml\n"), std::string::npos) << run.out;
    const fs::path file = folder / "reports" / "junit.xml";
    ASSERT_TRUE(fs::exists(file)) << run.out << run.err;
    const Report report(file);
    ASSERT_TRUE(report.parsed()) << read_text(file);

    EXPECT_EQ(report.number("count(/testsuites/testsuite)"), 1);
    EXPECT_EQ(report.text("string(/testsuites/testsuite/@name)"), "kestrel-bench run");
    EXPECT_EQ(report.text("string(/testsuites/testsuite/@tests)"), "3");
    EXPECT_EQ(report.text("string(/testsuites/testsuite/@failures)"), "1");
    EXPECT_EQ(report.text("string(/testsuites/testsuite/@errors)"), "1");
    EXPECT_EQ(report.text("string(/testsuites/@tests)"), "3");
    EXPECT_TRUE(report.text("string(/testsuites/testsuite/properties/property[@name='host']/@value)")
                    .find("the native host") == 0)
        << read_text(file);
    EXPECT_EQ(report.number("count(//testcase)"), 3);

    const std::string passes = "//testcase[@name='passes']";
    EXPECT_EQ(report.text("string(" + passes + "/@classname)"), "KESTREL_FAULTY.Faulty");
    EXPECT_EQ(report.text("string(" + passes + "/@file)"), "suite/passes.scenario");
    EXPECT_EQ(report.number("count(" + passes + "/failure | " + passes + "/error)"), 0);
    EXPECT_GT(report.number("number(" + passes + "/@time)"), 0) << "durations in seconds";
    EXPECT_LT(report.number("number(" + passes + "/@time)"), 60);
    EXPECT_EQ(report.text("string(" + passes + "/system-out)").rfind("trace: out/traces/passes.jsonl\n", 0), 0u)
        << report.text("string(" + passes + "/system-out)");
    EXPECT_TRUE(fs::exists(folder / "out" / "traces" / "passes.jsonl"));
    EXPECT_EQ(report.text("string(" + passes + "/properties/property[@name='host']/@value)"),
              report.text("string(/testsuites/testsuite/properties/property/@value)"));

    // One failure per failed expectation: "file:line: what was expected: what was there".
    const std::string fails = "//testcase[@name='fails']";
    EXPECT_EQ(report.number("count(" + fails + "/failure)"), 2);
    EXPECT_EQ(report.text("string(" + fails + "/failure[1]/@message)"),
              "suite/fails.scenario:7: expect value 0.0 5: element 0.0 has the value 0");
    EXPECT_EQ(report.text("string(" + fails + "/failure[2]/@message)"),
              "suite/fails.scenario:8: expect flags 0.0 0x10: element 0.0 has image_flags 0x00000000");
    EXPECT_EQ(report.text("string(" + fails + "/failure[1])"), report.text("string(" + fails + "/failure[1]/@message)"));
    EXPECT_EQ(report.text("string(" + fails + "/failure[1]/@type)"), "expectation");

    // A crash is an error with the scenario line and the signal.
    const std::string crashes = "//testcase[@name='crashes']";
    EXPECT_EQ(report.number("count(" + crashes + "/error)"), 1);
    EXPECT_EQ(report.text("string(" + crashes + "/error/@type)"), "crash");
    const std::string crash = report.text("string(" + crashes + "/error/@message)");
    EXPECT_EQ(crash.rfind("suite/crashes.scenario:5: update 3: the host stopped here (", 0), 0u) << crash;
    EXPECT_NE(crash.find("killed by signal"), std::string::npos) << crash;

    const auto schema = schema_check(file);
    EXPECT_EQ(schema.status, 0) << schema.out << schema.err << read_text(file);
    EXPECT_NE(schema.err.find("validates"), std::string::npos) << schema.err;
}

TEST_F(BenchJunit, AMalformedScenarioIsABadInputErrorAndTheRestAreNotRun) {
    write("passes", faulty(0, "expect value 0.0 0\n"));
    write("malformed", "module KESTREL_FAULTY\ngauge Faulty\nupdate many\n");
    const auto run = bench("suite/passes.scenario suite/malformed.scenario");
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_EQ(run.out, "0 passed, 0 failed: nothing ran (1 bad input above)\n");
    const fs::path file = folder / "reports" / "junit.xml";
    const Report report(file);
    ASSERT_TRUE(report.parsed()) << read_text(file);
    EXPECT_EQ(report.text("string(/testsuites/testsuite/@tests)"), "2");
    EXPECT_EQ(report.text("string(/testsuites/testsuite/@errors)"), "1");
    EXPECT_EQ(report.text("string(/testsuites/testsuite/@skipped)"), "1");
    const std::string malformed = "//testcase[@file='suite/malformed.scenario']";
    EXPECT_EQ(report.text("string(" + malformed + "/error/@type)"), "bad input");
    EXPECT_EQ(report.text("string(" + malformed + "/error/@message)"),
              "suite/malformed.scenario:3: expected a number of updates, found 'many'");
    EXPECT_EQ(report.text("string(//testcase[@file='suite/passes.scenario']/skipped/@message)"),
              "not run: 1 bad input stopped the run before anything ran");
    const auto schema = schema_check(file);
    EXPECT_EQ(schema.status, 0) << schema.err << read_text(file);

    // A scenario the host refuses when it loads it (an element the gauge lacks) is bad input too.
    write("wrong_element", "module KESTREL_FAULTY\ngauge Faulty\nupdate\nexpect value 0.7 0\n");
    const auto refused = bench("suite/passes.scenario suite/wrong_element.scenario");
    EXPECT_EQ(refused.status, 2) << refused.out;
    const Report second(file);
    ASSERT_TRUE(second.parsed());
    EXPECT_EQ(second.text("string(//testcase[@name='wrong_element']/error/@type)"), "bad input");
    EXPECT_NE(second.text("string(//testcase[@name='wrong_element']/error/@message)")
                  .find("suite/wrong_element.scenario:4: gauge Faulty has no element 0.7"),
              std::string::npos)
        << read_text(file);
    EXPECT_EQ(schema_check(file).status, 0);
}

TEST(JunitText, EscapesMarkupAndKeepsAnyByteReadable) {
    using kestrel::bench::xml_text;
    EXPECT_EQ(xml_text("a<b & \"c\" 'd'>"), "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;");
    EXPECT_EQ(xml_text("line\nnext\ttab"), "line\nnext\ttab");
    EXPECT_EQ(xml_text("line\nnext\ttab", kestrel::bench::XmlPlace::attribute), "line&#10;next&#9;tab");
    EXPECT_EQ(xml_text(std::string("\x01\x7F", 2)), "\\x01\\x7F");
    EXPECT_EQ(xml_text("caf\xC3\xA9 \xE2\x86\x92"), "caf\xC3\xA9 \xE2\x86\x92") << "UTF-8 is kept whole";
    EXPECT_EQ(xml_text("\xE9t\xC3"), "\\xE9t\\xC3") << "bytes that are no UTF-8";
    EXPECT_EQ(xml_text("\xC0\xAF \xED\xA0\x80 \xEF\xBF\xBF"), "\\xC0\\xAF \\xED\\xA0\\x80 \\xEF\\xBF\\xBF")
        << "overlong forms, surrogates and non-characters";
}

// The schema check can fail: a report without the message of its failure is refused.
TEST(JunitSchema, RefusesAReportOutsideWhatTheBenchEmits) {
    const fs::path file = scratch("not-our-junit.xml");
    std::ofstream(file) << "<?xml version=\"1.0\"?>\n<testsuites name=\"x\" tests=\"1\" failures=\"1\" errors=\"0\" "
                           "skipped=\"0\" time=\"0.1\"><testsuite name=\"x\" tests=\"1\" failures=\"1\" errors=\"0\" "
                           "skipped=\"0\" time=\"0.1\" timestamp=\"2024-01-01T00:00:00\"><testcase name=\"a\" "
                           "classname=\"M.G\" file=\"a.scenario\" time=\"0.1\"><failure type=\"expectation\">x</failure>"
                           "</testcase></testsuite></testsuites>\n";
    const auto result = schema_check(file);
    EXPECT_NE(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("message"), std::string::npos) << result.err;
}

}  // namespace
