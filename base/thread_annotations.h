// Annotations that say which mutex guards a member and which a function
// needs held, in the form clang's thread safety analysis reads
// (-Wthread-safety); other compilers see nothing. They state the owner of
// shared state where a reader looks for it: next to the member.
#ifndef AGENT_BASE_THREAD_ANNOTATIONS_H_
#define AGENT_BASE_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define AGENT_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define AGENT_THREAD_ANNOTATION(x)
#endif

// The type is a lock the analysis follows (base/mutex.h's Mutex).
#define CAPABILITY(x) AGENT_THREAD_ANNOTATION(capability(x))
// The type holds a lock for its lifetime (MutexLock).
#define SCOPED_CAPABILITY AGENT_THREAD_ANNOTATION(scoped_lockable)
// The function takes, or gives back, the lock.
#define ACQUIRE(...) AGENT_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) AGENT_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The function checks at run time that the lock is held.
#define ASSERT_CAPABILITY(x) AGENT_THREAD_ANNOTATION(assert_capability(x))

// The member is read and written only with the mutex held.
#define GUARDED_BY(x) AGENT_THREAD_ANNOTATION(guarded_by(x))
// What the pointer points to is read and written only with the mutex held.
#define PT_GUARDED_BY(x) AGENT_THREAD_ANNOTATION(pt_guarded_by(x))
// The function is called with the mutex held.
#define EXCLUSIVE_LOCKS_REQUIRED(...) AGENT_THREAD_ANNOTATION(exclusive_locks_required(__VA_ARGS__))
// The function takes the mutex itself: the caller must not hold it.
#define LOCKS_EXCLUDED(...) AGENT_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

#endif  // AGENT_BASE_THREAD_ANNOTATIONS_H_
