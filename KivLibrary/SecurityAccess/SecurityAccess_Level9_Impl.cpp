#include "KivLibrary/SecurityAccess/SecurityAccess_Level9_Impl.h"

#include "KivLibrary/GlobalLibrary/KivDMConversation.h"
#include "KivLibrary/Helper/ByteFormat.h"
#include "KivLibrary/Logger/Logging.h"
#include "KivLibrary/Persistency/KivConfiguration.h"
#include "KivLibrary/SecurityAccess/KeyCalculation.h"

#include <cstring>
#include <exception>
#include <random>

SecurityAccess_Level9_Impl::SecurityAccess_Level9_Impl(const std::string& instance,
                                                       ara::com::MethodCallProcessingMode mode,
                                                       std::shared_ptr<SessionData> sessionData,
                                                       std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                                                       std::shared_ptr<KivConfiguration> configuration,
                                                       std::shared_ptr<KivDMConversation> conversation)
    : SecurityAccessSkeleton(instance, mode),
      m_sessionData(std::move(sessionData)),
      m_ucmAdaptor(std::move(ucmAdaptor)),
      m_configuration(std::move(configuration)),
      m_conversation(std::move(conversation)) {}

SecurityAccess_Level9_Impl::~SecurityAccess_Level9_Impl() {
    StopOfferService();
    StopMethodDispatcher();
}

std::vector<uint8_t> SecurityAccess_Level9_Impl::DrawSeed() {
    // Throws when the entropy device cannot be opened or read; a predictable
    // seed would unlock programming for anyone, so there is no fallback.
    std::random_device device("/dev/urandom");
    std::minstd_rand generator(device());
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<uint8_t> seed;
    seed.reserve(kSeedLength);
    for (size_t i = 0; i < kSeedLength; ++i) {
        seed.push_back(static_cast<uint8_t>(byte(generator)));
    }
    return seed;
}

jux::com::Future<SecurityAccess_Level9_Impl::GetSeedOutput> SecurityAccess_Level9_Impl::GetSeed(
    const std::vector<uint8_t>&, const zov::dm::types::MetaInfoType& metaInfo) {
    LogInfo() << "Getting seed for level 9" << VLMR_FILE_LINE;
    jux::com::Promise<GetSeedOutput> promise;
    try {
        if (m_conversation) {
            LogInfo() << "SecurityAccess_Level9_Impl:: registering DM" << VLMR_FILE_LINE;
            m_conversation->registerConversation(metaInfo);
        }
        {
            std::lock_guard<std::mutex> lock(m_seedMutex);
            m_seed.clear();
        }
        std::vector<uint8_t> seed = DrawSeed();
        {
            std::lock_guard<std::mutex> lock(m_seedMutex);
            m_seed = seed;
            m_seedSession = SessionChanges();
        }
        promise.set_value(GetSeedOutput{std::move(seed)});
        LogInfo() << "Produced random seed for security access level 9" << VLMR_FILE_LINE;
    } catch (...) {
        LogError() << "GetSeed failed, no seed produced: " << ExceptionText(std::current_exception()) << VLMR_FILE_LINE;
        promise.set_exception(std::current_exception());
    }
    return promise.get_future();
}

uint8_t SecurityAccess_Level9_Impl::Compare(const std::vector<uint8_t>& key) {
    using zov::dm::securityaccess::SecurityAccess::CompareKey;
    std::vector<uint8_t> seed;
    bool sameSession = true;
    {
        std::lock_guard<std::mutex> lock(m_seedMutex);
        sameSession = m_seedSession == SessionChanges();
        if (!sameSession) {
            m_seed.clear();
        }
        seed = m_seed;
    }
    if (!sameSession) {
        LogWarn() << "CompareKey failed. The seed was requested in another diagnostic session!" << VLMR_FILE_LINE;
        return CompareKey::kKeyInvalid;
    }
    if (seed.size() != kSeedLength) {
        LogWarn() << "CompareKey failed. Haven't requested a seed yet!" << VLMR_FILE_LINE;
        return CompareKey::kKeyInvalid;
    }
    std::vector<uint8_t> expected;
    try {
        const std::string operations = m_configuration ? m_configuration->KeyCalculation : std::string();
        const uint32_t seedValue = ReadUint32BigEndian(seed);
        int32_t signedSeed = 0;
        static_assert(sizeof(signedSeed) == sizeof(seedValue), "seed is 32 bits");
        std::memcpy(&signedSeed, &seedValue, sizeof(signedSeed));
        expected = Uint32ToBigEndian(CalculateKey(signedSeed, operations));
    } catch (...) {
        LogWarn() << "CompareKey failed. Key calculation has failed " << ExceptionText(std::current_exception())
                  << VLMR_FILE_LINE;
        return CompareKey::kKeyInvalid;
    }
    if (key != expected) {
        LogWarn() << "CompareKey failed. Calculated key is not the same as the sent key " << VLMR_FILE_LINE;
        return CompareKey::kKeyInvalid;
    }
    {
        // Good once: a second key for this seed, even the same, is refused.
        std::lock_guard<std::mutex> lock(m_seedMutex);
        if (m_seed != seed) {
            LogWarn() << "CompareKey failed. The seed was replaced meanwhile!" << VLMR_FILE_LINE;
            return CompareKey::kKeyInvalid;
        }
        m_seed.clear();
    }
    LogInfo() << "SecurityAccess:: key valid!" << VLMR_FILE_LINE;
    return CompareKey::kKeyValid;
}

uint64_t SecurityAccess_Level9_Impl::SessionChanges() const {
    return m_conversation ? m_conversation->SessionChanges() : 0;
}

jux::com::Future<SecurityAccess_Level9_Impl::CompareKeyOutput> SecurityAccess_Level9_Impl::CompareKey(
    const std::vector<uint8_t>& key, const zov::dm::types::MetaInfoType& metaInfo) {
    LogInfo() << "Compare Key for level 9" << VLMR_FILE_LINE;
    jux::com::Promise<CompareKeyOutput> promise;
    CompareKeyOutput output;
    try {
        // Brings the session up to date, so that a session changed since
        // the seed is seen.
        if (m_conversation) {
            m_conversation->registerConversation(metaInfo);
        }
        output.result = Compare(key);
    } catch (...) {
        LogError() << "CompareKey failed: " << ExceptionText(std::current_exception()) << VLMR_FILE_LINE;
        output.result = zov::dm::securityaccess::SecurityAccess::CompareKey::kKeyInvalid;
    }
    promise.set_value(output);
    return promise.get_future();
}

jux::com::Future<void> SecurityAccess_Level9_Impl::Cancel(const zov::dm::types::MetaInfoType&) {
    LogInfo() << "Cancel SecurityAccess" << VLMR_FILE_LINE;
    jux::com::Promise<void> promise;
    promise.set_value();
    return promise.get_future();
}
