// The reading of a radio service's answer: any bytes are read or refused without fault, and the
// supervision's interpretation of what was read never fails.
#include "FuzzTarget.h"
#include "InterfaceAnswer.h"
#include "RpcClient.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XmlRpc::XmlRpcValue result;
    bool fault = false;
    if (RpcClient::ReadAnswer(std::string(reinterpret_cast<const char*>(data), size), result,
                              fault) &&
        !fault) {
        InterfaceAnswer answer = ReadInterfaceAnswer(result);
        Check(answer.stateKnown || !answer.connected, "an unknown state is not connected");
    }
    return 0;
}
