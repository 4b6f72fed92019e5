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

// The member is read and written only with the mutex held.
#define GUARDED_BY(x) AGENT_THREAD_ANNOTATION(guarded_by(x))
// What the pointer points to is read and written only with the mutex held.
#define PT_GUARDED_BY(x) AGENT_THREAD_ANNOTATION(pt_guarded_by(x))
// The function is called with the mutex held.
#define EXCLUSIVE_LOCKS_REQUIRED(...) AGENT_THREAD_ANNOTATION(exclusive_locks_required(__VA_ARGS__))
// The function takes the mutex itself: the caller must not hold it.
#define LOCKS_EXCLUDED(...) AGENT_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

#endif  // AGENT_BASE_THREAD_ANNOTATIONS_H_
