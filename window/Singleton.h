// A process-wide single instance of T, made by the first instance() call.
// Creation is guarded by a mutex with the check repeated inside the lock; the
// instance lives in a static owning pointer until the process ends.
#ifndef WINDOW_SINGLETON_H
#define WINDOW_SINGLETON_H

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <memory>

namespace Base {

class CNoncopyable {
protected:
    CNoncopyable() = default;
    ~CNoncopyable() = default;

public:
    CNoncopyable(const CNoncopyable&) = delete;
    CNoncopyable& operator=(const CNoncopyable&) = delete;
};

// T derives from CSingleton<T>, makes its constructor private and befriends
// CSingleton<T>.
template <typename T>
class CSingleton : private CNoncopyable {
public:
    static T* instance() {
        T* pInstance = s_pInstance.load(std::memory_order_acquire);
        if (!pInstance) {
            QMutexLocker lock(&s_mutex);
            pInstance = s_pInstance.load(std::memory_order_relaxed);
            if (!pInstance) {
                s_pOwner.reset(new T);
                pInstance = s_pOwner.get();
                s_pInstance.store(pInstance, std::memory_order_release);
            }
        }
        return pInstance;
    }

protected:
    CSingleton() = default;
    ~CSingleton() = default;

private:
    static QMutex s_mutex;
    static std::atomic<T*> s_pInstance;
    static std::unique_ptr<T> s_pOwner;
};

template <typename T>
QMutex CSingleton<T>::s_mutex;
template <typename T>
std::atomic<T*> CSingleton<T>::s_pInstance{nullptr};
template <typename T>
std::unique_ptr<T> CSingleton<T>::s_pOwner;

}  // namespace Base

#endif  // WINDOW_SINGLETON_H
