#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "network/blstm.h"
#include "tests/network/model_files.h"
#include "tests/support/files.h"

namespace tarvik {
namespace {

// 39 inputs, 2 outputs, two blocks of two cells in each layer, peepholes in both.
const BLSTMTopology WORKED{39, 2, 2, 2, true, 2, 2, true};

using test_support::readFile;
using test_support::writeFile;

// Parameters whose value n + 1 marks the n-th value of the file.
BLSTMParameters numberedParameters(const BLSTMTopology& t) {
    BLSTMParameters p = randomParameters(t, 1);
    double n = 0.0;
    for (auto* array : p.inFileOrder()) {
        for (double& v : *array) v = ++n;
    }
    return p;
}

double doubleAt(const std::string& bytes, size_t offset) {
    double value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::unique_ptr<BLSTM> bufferedNet() {
    auto net = std::make_unique<BLSTM>(0);
    net->setBuffering(20, 20);
    return net;
}

TEST(BLSTMModel, CountsOfTheWorkedTopology) {
    BLSTM net(0);
    net.setSize(39, 2);
    net.setBuffering(20, 20);
    net.setTopology(2, 2, true, 2, 2, true);
    EXPECT_EQ(net.countWeights(), 914);
    const BLSTMParameters& p = net.getParameters();
    EXPECT_EQ(p.fwd_weights.size(), 430u);
    EXPECT_EQ(p.fwd_peep_weights.size(), 12u);
    EXPECT_EQ(p.fwd_biases.size(), 6u);
    EXPECT_EQ(p.bwd_weights.size(), 430u);
    EXPECT_EQ(p.bwd_peep_weights.size(), 12u);
    EXPECT_EQ(p.bwd_biases.size(), 6u);
    EXPECT_EQ(p.out_weights.size(), 16u);
    EXPECT_EQ(p.out_biases.size(), 2u);
    EXPECT_EQ(net.getOutputFrame().size(), 2u);

    net.setSize(39, 1);
    net.setTopology(2, 3, false, 2, 3, false);
    EXPECT_EQ(net.countUnits(), 37);
    EXPECT_TRUE(net.getParameters().fwd_peep_weights.empty());
}

TEST(BLSTMModel, FileLayoutOfTheWorkedTopology) {
    const BLSTMParameters p = numberedParameters(WORKED);
    ASSERT_TRUE(writeModelFile("worked.am", WORKED, p));
    const std::string bytes = readFile("worked.am");
    ASSERT_EQ(bytes.size(), 26u + 8u * 914u);
    EXPECT_EQ(doubleAt(bytes, 26), 1.0);              // first forward weight
    EXPECT_EQ(doubleAt(bytes, 26 + 8 * 430), 431.0);  // first forward peephole
    EXPECT_EQ(doubleAt(bytes, 26 + 8 * 442), 443.0);  // first forward bias
    EXPECT_EQ(doubleAt(bytes, 26 + 8 * 912), 913.0);  // first output bias

    auto net = bufferedNet();
    ASSERT_TRUE(net->load("worked.am"));
    EXPECT_TRUE(net->getTopology() == WORKED);
    const BLSTMParameters& got = net->getParameters();
    EXPECT_EQ(got.fwd_weights.front(), 1.0);
    EXPECT_EQ(got.fwd_peep_weights.front(), 431.0);
    EXPECT_EQ(got.fwd_biases.front(), 443.0);
    EXPECT_EQ(got.bwd_weights.front(), 449.0);
    EXPECT_EQ(got.bwd_peep_weights.front(), 879.0);
    EXPECT_EQ(got.bwd_biases.front(), 891.0);
    EXPECT_EQ(got.out_weights.front(), 897.0);
    EXPECT_EQ(got.out_biases.back(), 914.0);
    EXPECT_TRUE(got == p);
}

TEST(BLSTMModel, LayerWithoutPeepholesHasNoPeepholeValuesInTheFile) {
    const BLSTMTopology t{39, 2, 2, 2, false, 2, 2, true};
    ASSERT_TRUE(writeModelFile("no_fwd_peep.am", t, numberedParameters(t)));
    EXPECT_EQ(readFile("no_fwd_peep.am").size(), 26u + 8u * 902u);
    auto net = bufferedNet();
    ASSERT_TRUE(net->load("no_fwd_peep.am"));
    EXPECT_TRUE(net->getParameters().fwd_peep_weights.empty());
    EXPECT_EQ(net->getParameters().fwd_biases.front(), 431.0);  // right after the weights
    EXPECT_EQ(net->countWeights(), 902);
}

TEST(BLSTMModel, PeepholeFlagByteOfTwoCountsAsTrue) {
    ASSERT_TRUE(writeModelFile("flag.am", WORKED, numberedParameters(WORKED)));
    std::string bytes = readFile("flag.am");
    bytes[16] = 2;
    bytes[25] = 2;
    writeFile("flag.am", bytes);
    auto net = bufferedNet();
    ASSERT_TRUE(net->load("flag.am"));
    EXPECT_TRUE(net->getTopology().fwd_has_peepholes);
    EXPECT_TRUE(net->getTopology().bwd_has_peepholes);
    EXPECT_EQ(net->countWeights(), 914);
}

TEST(BLSTMModel, BytesAfterTheLastArrayAreIgnored) {
    ASSERT_TRUE(writeModelFile("tail.am", WORKED, numberedParameters(WORKED)));
    writeFile("tail.am", readFile("tail.am") + "trailing bytes");
    auto net = bufferedNet();
    EXPECT_TRUE(net->load("tail.am"));
}

TEST(BLSTMModel, SecondLoadReplacesTheFirstModel) {
    const BLSTMTopology small{3, 1, 1, 2, false, 2, 1, true};
    ASSERT_TRUE(writeModelFile("first.am", WORKED, randomParameters(WORKED, 7)));
    ASSERT_TRUE(writeModelFile("second.am", small, randomParameters(small, 8)));
    auto net = bufferedNet();
    ASSERT_TRUE(net->load("first.am"));
    ASSERT_TRUE(net->load("second.am"));
    EXPECT_TRUE(net->getTopology() == small);
    EXPECT_EQ(net->getInputsNum(), 3);
    EXPECT_EQ(net->getOutputsNum(), 1);
    EXPECT_EQ(net->getOutputFrame().size(), 1u);
    EXPECT_TRUE(net->getParameters() == randomParameters(small, 8));
}

TEST(BLSTMModel, TextFormHoldsTheSameModel) {
    const BLSTMParameters p = randomParameters(WORKED, 3);
    ASSERT_TRUE(writeModelText("worked.txt", WORKED, p));
    auto net = bufferedNet();
    ASSERT_TRUE(net->loadText("worked.txt"));
    EXPECT_TRUE(net->getTopology() == WORKED);
    EXPECT_TRUE(net->getParameters() == p);
}

TEST(BLSTMModel, MissingFilesAreReportedWithTheReadersLines) {
    ASSERT_TRUE(writeModelFile("kept.am", WORKED, randomParameters(WORKED, 5)));
    auto net = bufferedNet();
    ASSERT_TRUE(net->load("kept.am"));
    const struct {
        bool text;
        const char* line;
    } cases[] = {{false, "Error loading BLSTM topology\n"}, {true, "ERROR: loading AM\n"}};
    for (const auto& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_FALSE(c.text ? net->loadText("no/such/model") : net->load("no/such/model"));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        EXPECT_TRUE(net->isLoaded());
        EXPECT_TRUE(net->getParameters() == randomParameters(WORKED, 5));
    }
}

// A header field of `t` replaced by `value` at byte `offset`.
std::string patchedInt32(const BLSTMTopology& t, size_t offset, std::int32_t value) {
    std::string bytes = modelHeaderBytes(t);
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return bytes;
}

TEST(BLSTMModel, BrokenFilesAreRefusedAndTheLoadedModelStays) {
    const BLSTMParameters p = randomParameters(WORKED, 11);
    ASSERT_TRUE(writeModelFile("good.am", WORKED, p));
    ASSERT_TRUE(writeModelText("good.txt", WORKED, p));
    const std::string good = readFile("good.am");
    const std::string tail = good.substr(26);
    const std::string text = readFile("good.txt");
    const std::string values = text.substr(text.find('\n', text.find('\n') + 1));
    const struct {
        bool is_text;
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {false, "empty.am", "", "shorter than the 26-byte header"},
        {false, "short_header.am", good.substr(0, 10), "shorter than the 26-byte header"},
        {false, "header_only.am", good.substr(0, 26), "26 bytes, the header needs 7338"},
        {false, "one_byte_short.am", good.substr(0, good.size() - 1),
         "7337 bytes, the header needs 7338"},
        {false, "negative_inputs.am", patchedInt32(WORKED, 0, -39) + tail, "inputs_num is -39"},
        {false, "no_output.am", patchedInt32(WORKED, 4, 0) + tail,
         "outputs_num is 0, must be positive"},
        {false, "no_fwd_block.am", patchedInt32(WORKED, 8, 0) + tail, "fwd_blocks_num is 0"},
        {false, "absurd_blocks.am", patchedInt32(WORKED, 17, 1000000000) + tail,
         "bwd_blocks_num is 1000000000, above the limit"},
        {false, "negative_cells.am", patchedInt32(WORKED, 21, -2) + tail,
         "bwd_cells_per_block is -2"},
        {false, "too_many_cells.am",
         modelHeaderBytes(BLSTMTopology{39, 2, 65536, 65536, true, 2, 2, true}) + tail,
         "fwd_cells_num is 4294967296, above the limit"},
        {false, "too_many_weights.am",
         modelHeaderBytes(BLSTMTopology{65536, 2, 1000, 60, true, 2, 2, true}) + tail,
         "parameters, above the limit"},
        {true, "empty.txt", "", "the eight header values are missing or not numbers"},
        {true, "flag.txt", "39 2 2 2 yes 2 2 1" + values, "the eight header values are missing"},
        {true, "no_output.txt", "39 0 2 2 1 2 2 1" + values, "outputs_num is 0"},
        {true, "truncated.txt", text.substr(0, text.rfind('\n', text.size() - 2)),
         "parameter 914 is missing or not a number"},
        {true, "garbled.txt", "39 2 2 2 1 2 2 1\n0.5 x" + values, "parameter 2 is missing"},
    };
    auto net = bufferedNet();
    ASSERT_TRUE(net->load("good.am"));
    for (const auto& c : cases) {
        writeFile(c.name, c.bytes);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(c.is_text ? net->loadText(c.name) : net->load(c.name)) << c.name;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind(std::string("ERROR: invalid model file ") + c.name + ": ", 0), 0u)
            << out;
        EXPECT_NE(out.find(c.reason), std::string::npos) << out;
        EXPECT_EQ(out.find('\n'), out.size() - 1) << out;  // one line
        EXPECT_TRUE(net->getTopology() == WORKED);
        EXPECT_TRUE(net->getParameters() == p);
    }
}

TEST(BLSTMModel, LoadBeforeSetBufferingIsRefused) {
    ASSERT_TRUE(writeModelFile("unbuffered.am", WORKED, randomParameters(WORKED, 1)));
    BLSTM net(0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(net.load("unbuffered.am"));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("no buffering set before loading"),
              std::string::npos);
    EXPECT_FALSE(net.isLoaded());
}

TEST(BLSTMModel, GoldenModelTopologyAndCounts) {
    auto net = bufferedNet();
    ASSERT_TRUE(net->load(TARVIK_TEST_DATA "/golden/media.am"));
    EXPECT_TRUE((net->getTopology() == BLSTMTopology{39, 1, 4, 2, true, 4, 2, true}));
    EXPECT_EQ(net->countWeights(), 1969);
    EXPECT_EQ(net->countUnits(), 57);
    EXPECT_EQ(readFile(TARVIK_TEST_DATA "/golden/media.am").size(), 26u + 8u * 1969u);
}

}  // namespace
}  // namespace tarvik
