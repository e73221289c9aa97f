// The diagnostic manager's SecurityAccess service for level 9 (programming):
// GetSeed draws and keeps four random bytes, CompareKey checks the tester's
// key against the configured key calculation of the kept seed. Calls arrive
// on the binding's method threads, possibly at once: the seed is guarded by a
// mutex that is never held across the key calculation or a call out.
// A seed answers one key: a valid key and a change of the diagnostic session
// use it up, and a key without a fresh seed is refused.
#ifndef KIVLIBRARY_SECURITYACCESS_SECURITYACCESS_LEVEL9_IMPL_H
#define KIVLIBRARY_SECURITYACCESS_SECURITYACCESS_LEVEL9_IMPL_H

#include "platform/services/zov/dm/securityaccess/SecurityAccess_skeleton.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SessionData;
class KivConfiguration;
class KivDMConversation;
namespace UCM {
class UCMAdaptorInterface;
}

class SecurityAccess_Level9_Impl : public zov::dm::securityaccess::skeleton::SecurityAccessSkeleton {
public:
    using GetSeedOutput = zov::dm::securityaccess::SecurityAccess::GetSeed::Output;
    using CompareKeyOutput = zov::dm::securityaccess::SecurityAccess::CompareKey::Output;
    static constexpr size_t kSeedLength = 4;

    SecurityAccess_Level9_Impl(const std::string& instance, ara::com::MethodCallProcessingMode mode,
                               std::shared_ptr<SessionData> sessionData,
                               std::shared_ptr<UCM::UCMAdaptorInterface> ucmAdaptor,
                               std::shared_ptr<KivConfiguration> configuration,
                               std::shared_ptr<KivDMConversation> conversation);
    ~SecurityAccess_Level9_Impl() override;

    jux::com::Future<void> Cancel(const zov::dm::types::MetaInfoType& metaInfo) override;
    // The key output is 0 (valid) or 1 (invalid, the reason logged); it never fails.
    jux::com::Future<CompareKeyOutput> CompareKey(const std::vector<uint8_t>& key,
                                                  const zov::dm::types::MetaInfoType& metaInfo) override;
    // Fails the call, and leaves no seed, when no entropy can be read.
    jux::com::Future<GetSeedOutput> GetSeed(const std::vector<uint8_t>& securityAccessDataRecord,
                                            const zov::dm::types::MetaInfoType& metaInfo) override;

private:
    static std::vector<uint8_t> DrawSeed();
    uint8_t Compare(const std::vector<uint8_t>& key);
    // Without a conversation every request counts as the same session.
    uint64_t SessionChanges() const;

    std::mutex m_seedMutex;
    std::vector<uint8_t> m_seed;  // m_seedMutex
    uint64_t m_seedSession = 0;   // m_seedMutex: SessionChanges when the seed was drawn
    std::shared_ptr<SessionData> m_sessionData;
    std::shared_ptr<UCM::UCMAdaptorInterface> m_ucmAdaptor;
    std::shared_ptr<KivConfiguration> m_configuration;
    std::shared_ptr<KivDMConversation> m_conversation;
};

#endif
