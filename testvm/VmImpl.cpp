#include "VmImpl.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "HostClassDefs.h"
#include "JniFunctionTable.h"
#include "ModifiedUtf8.h"

namespace testvm {
namespace {

// ART's limits for global and weak global references.
constexpr std::uint32_t kGlobalCapacity = 51200;
// Room after the last method record of a class, so that a scan of a record
// that runs past it (a neighbour far away, below it) stays in the block.
constexpr std::size_t kRecordBlockSlack = 128;
constexpr std::size_t kMinCollectThreshold = 10000;

[[noreturn]] void fatal(const std::string& message) {
  std::fprintf(stderr, "testvm: %s\n", message.c_str());
  std::abort();
}

bool isSystemClassName(const std::string& name) {
  for (const char* prefix : {"java/", "javax/", "android/", "dalvik/", "sun/", "libcore/"}) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

struct ThrowableNames {
  const char* name;
  const char* super;
};

// The exceptions the VM raises itself, and their usual ancestors.
constexpr ThrowableNames kThrowables[] = {
    {"java/lang/Exception", "java/lang/Throwable"},
    {"java/lang/Error", "java/lang/Throwable"},
    {"java/lang/RuntimeException", "java/lang/Exception"},
    {"java/lang/ReflectiveOperationException", "java/lang/Exception"},
    {"java/lang/ClassNotFoundException", "java/lang/ReflectiveOperationException"},
    {"java/lang/InstantiationException", "java/lang/ReflectiveOperationException"},
    {"java/lang/LinkageError", "java/lang/Error"},
    {"java/lang/NoClassDefFoundError", "java/lang/LinkageError"},
    {"java/lang/UnsatisfiedLinkError", "java/lang/LinkageError"},
    {"java/lang/IncompatibleClassChangeError", "java/lang/LinkageError"},
    {"java/lang/NoSuchMethodError", "java/lang/IncompatibleClassChangeError"},
    {"java/lang/NoSuchFieldError", "java/lang/IncompatibleClassChangeError"},
    {"java/lang/VirtualMachineError", "java/lang/Error"},
    {"java/lang/OutOfMemoryError", "java/lang/VirtualMachineError"},
    {"java/lang/NullPointerException", "java/lang/RuntimeException"},
    {"java/lang/IllegalArgumentException", "java/lang/RuntimeException"},
    {"java/lang/ClassCastException", "java/lang/RuntimeException"},
    {"java/lang/ArrayStoreException", "java/lang/RuntimeException"},
    {"java/lang/NegativeArraySizeException", "java/lang/RuntimeException"},
    {"java/lang/IndexOutOfBoundsException", "java/lang/RuntimeException"},
    {"java/lang/ArrayIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
    {"java/lang/StringIndexOutOfBoundsException", "java/lang/IndexOutOfBoundsException"},
};

}  // namespace

void unregisteredNativeStub() {}
void quickEntryTrampoline() {}

TestVm::Impl::Impl(VmOptions vmOptions)
    : options(std::move(vmOptions)),
      sdkInt(options.sdkInt),
      globals(sdkInt, kGlobalRef, kGlobalCapacity),
      weakGlobals(sdkInt, kWeakGlobalRef, kGlobalCapacity),
      javaVmObject_{invokeInterface(), this},
      table_(createFunctionTable()),
      collectThreshold_(kMinCollectThreshold) {
  if (pthread_key_create(&threadKey_, &Impl::onThreadExit) != 0) fatal("pthread_key_create failed");
  {
    std::lock_guard<std::mutex> lock(mutex);
    bootstrap();
    for (const ClassDef& def : hostClassDefs(*this)) defineClass(def);
    for (const ClassDef& def : options.extraClasses) defineClass(def);
    appClassLoader = allocate(requireClass("java/lang/ClassLoader"));
  }
  hostThread_ = attachCurrent(true);
}

TestVm::Impl::~Impl() {
  if (current() == hostThread_) pthread_setspecific(threadKey_, nullptr);
  pthread_key_delete(threadKey_);
  for (ThreadState* ts : threads_) delete ts;
  for (Object* object : heap_) delete object;
  for (char* copy : utfCopies) delete[] copy;
  destroyFunctionTable(table_);
}

// --- classes -----------------------------------------------------------------

void TestVm::Impl::bootstrap() {
  ClassDef object{"java/lang/Object", "", {}, {}};
  defineClass(object);
  defineClass(ClassDef{"java/lang/Class", "java/lang/Object", {}, {}});
  // Object's mirror could not be made before Class existed.
  Class* objectClass = requireClass("java/lang/Object");
  objectClass->mirror = allocate(requireClass("java/lang/Class"));
  objectClass->mirror->kind = ObjectKind::kClassMirror;
  objectClass->mirror->mirrorOf = objectClass;
  for (const char* name : {"java/lang/String", "java/lang/ClassLoader", "java/lang/reflect/Method",
                           "java/lang/reflect/Field"}) {
    defineClass(ClassDef{name, "java/lang/Object", {}, {}});
  }
  ClassDef throwable{"java/lang/Throwable", "java/lang/Object", {}, {}};
  throwable.methods.push_back(MethodDef{
      "getMessage", "()Ljava/lang/String;", false, false,
      [this](JNIEnv* env, jobject self, const jvalue*) {
        jvalue result{};
        ThreadState* ts = ThreadState::of(env);
        std::lock_guard<std::mutex> lock(mutex);
        Object* t = decode(ts, self, "Throwable.getMessage");
        if (t != nullptr && t->message) result.l = addLocal(ts, newString(utf8ToUtf16(*t->message)), "getMessage");
        return result;
      },
      nullptr});
  defineClass(throwable);
  for (const ThrowableNames& t : kThrowables) defineClass(ClassDef{t.name, t.super, {}, {}});
}

Class* TestVm::Impl::requireClass(const std::string& name) {
  Class* cls = findClass(name);
  if (cls == nullptr) fatal("class " + name + " does not exist");
  return cls;
}

Class* TestVm::Impl::findClass(const std::string& name) {
  auto it = classByName_.find(name);
  if (it != classByName_.end()) return it->second;
  return name.size() > 1 && name[0] == '[' ? makeArrayClass(name) : nullptr;
}

Class* TestVm::Impl::makeArrayClass(const std::string& name) {
  std::string element = name.substr(1);
  Class* component = nullptr;
  char kind;
  if (element[0] == '[') {
    component = findClass(element);
    kind = 'L';
  } else if (element[0] == 'L' && element.size() > 2 && element.back() == ';') {
    component = findClass(element.substr(1, element.size() - 2));
    kind = 'L';
  } else if (element.size() == 1 && primitiveSize(element[0]) != 0) {
    kind = element[0];
  } else {
    return nullptr;
  }
  if (kind == 'L' && component == nullptr) return nullptr;
  Class* cls = defineClass(ClassDef{name, "java/lang/Object", {}, {}});
  cls->componentKind = kind;
  cls->component = component;
  cls->system = component == nullptr || component->system;
  return cls;
}

Class* TestVm::Impl::defineClass(const ClassDef& def) {
  if (classByName_.count(def.name) != 0) fatal("class " + def.name + " defined twice");
  auto cls = std::make_unique<Class>();
  cls->name = def.name;
  cls->system = isSystemClassName(def.name);
  cls->index = static_cast<std::uint32_t>(classes_.size());
  if (!def.superName.empty()) {
    cls->super = findClass(def.superName);
    if (cls->super == nullptr) fatal("superclass " + def.superName + " of " + def.name + " does not exist");
    cls->instanceFieldCount = cls->super->instanceFieldCount;
    cls->instanceReferenceFields = cls->super->instanceReferenceFields;
  }
  for (const FieldDef& fd : def.fields) {
    auto field = std::make_unique<Field>();
    field->name = fd.name;
    field->signature = fd.signature;
    field->isStatic = fd.isStatic;
    field->owner = cls.get();
    if (fd.isStatic) {
      if (field->kind() != 'L') field->staticValue = fd.initial;
    } else {
      field->slot = cls->instanceFieldCount++;
      cls->instanceReferenceFields.push_back(field->kind() == 'L');
    }
    fieldSet_.insert(field.get());
    cls->fields.push_back(std::move(field));
  }
  Class* raw = cls.get();
  classes_.push_back(std::move(cls));
  classByName_[def.name] = raw;
  linkMethods(raw, def.methods);
  if (Class* classClass = findClass("java/lang/Class")) {
    raw->mirror = allocate(classClass);
    raw->mirror->kind = ObjectKind::kClassMirror;
    raw->mirror->mirrorOf = raw;
  }
  return raw;
}

void TestVm::Impl::linkMethods(Class* cls, const std::vector<MethodDef>& defs) {
  std::vector<MethodDef> all = defs;
  auto declares = [&all](const char* name, const char* sig) {
    for (const MethodDef& m : all) {
      if (m.name == name && m.signature == sig) return true;
    }
    return false;
  };
  // Every class can be constructed; throwables also with a message. They come
  // after the declared methods, so declared neighbours stay neighbours.
  if (cls->name[0] != '[' && !declares("<init>", "()V")) all.push_back(MethodDef{"<init>", "()V", false, false, {}, nullptr});
  Class* throwable = findClass("java/lang/Throwable");
  if (cls->name == "java/lang/Throwable" || (throwable != nullptr && cls->isSubclassOf(throwable))) {
    if (!declares("<init>", "(Ljava/lang/String;)V")) {
      all.push_back(MethodDef{"<init>", "(Ljava/lang/String;)V", false, false,
                              [this](JNIEnv* env, jobject self, const jvalue* args) {
                                ThreadState* ts = ThreadState::of(env);
                                std::lock_guard<std::mutex> lock(mutex);
                                Object* t = decode(ts, self, "Throwable.<init>");
                                Object* message = decode(ts, args[0].l, "Throwable.<init>");
                                if (t != nullptr && message != nullptr) {
                                  t->message = utf16ToUtf8(message->chars.get(), message->length);
                                }
                                return jvalue{};
                              },
                              nullptr});
    }
  }
  cls->recordBlock.reset(new unsigned char[all.size() * sizeof(MethodRecord) + kRecordBlockSlack]());
  cls->methods.resize(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    const MethodDef& def = all[i];
    MethodInfo& m = cls->methods[i];
    if (!parseMethodSignature(def.signature, &m.argKinds, &m.returnKind)) {
      fatal("malformed signature " + def.signature + " of " + cls->name + "." + def.name);
    }
    m.name = def.name;
    m.signature = def.signature;
    m.isStatic = def.isStatic;
    m.isNative = def.isNative;
    m.body = def.body;
    m.owner = cls;
    m.index = i;
    MethodRecordFields& r = cls->record(i)->f;
    r.declaringClass = cls->index;
    r.accessFlags = kAccPublic | (def.isStatic ? kAccStatic : 0) | (def.isNative ? kAccNative : 0);
    r.dexMethodIndex = static_cast<std::uint32_t>(i);
    r.methodIndex = static_cast<std::uint16_t>(i);
    r.data = def.isNative ? (def.nativeEntry != nullptr ? def.nativeEntry : reinterpret_cast<void*>(&unregisteredNativeStub))
                          : nullptr;
    r.entryPointFromQuickCompiledCode = reinterpret_cast<void*>(&quickEntryTrampoline);
  }
  recordBlocks_[reinterpret_cast<std::uintptr_t>(cls->recordBlock.get())] = cls;
}

MethodInfo* TestVm::Impl::methodOf(jmethodID id, Class** owner) {
  auto address = reinterpret_cast<std::uintptr_t>(id);
  auto it = recordBlocks_.upper_bound(address);
  if (it == recordBlocks_.begin()) return nullptr;
  --it;
  std::uintptr_t offset = address - it->first;
  if (offset % sizeof(MethodRecord) != 0 || offset / sizeof(MethodRecord) >= it->second->methods.size()) {
    return nullptr;
  }
  if (owner != nullptr) *owner = it->second;
  return &it->second->methods[offset / sizeof(MethodRecord)];
}

jmethodID TestVm::Impl::idOf(const MethodInfo& method) const {
  return reinterpret_cast<jmethodID>(method.owner->record(method.index));
}

Field* TestVm::Impl::fieldOf(jfieldID id) {
  auto* field = reinterpret_cast<Field*>(id);
  return fieldSet_.count(field) != 0 ? field : nullptr;
}

MethodInfo* TestVm::Impl::findMethod(Class* cls, const std::string& name, const std::string& sig, bool isStatic) {
  for (Class* c = cls; c != nullptr; c = c->super) {
    for (MethodInfo& m : c->methods) {
      if (m.name == name && m.signature == sig) return m.isStatic == isStatic ? &m : nullptr;
    }
  }
  return nullptr;
}

Field* TestVm::Impl::findField(Class* cls, const std::string& name, const std::string& sig, bool isStatic) {
  for (Class* c = cls; c != nullptr; c = c->super) {
    for (auto& f : c->fields) {
      if (f->name == name && f->signature == sig && f->isStatic == isStatic) return f.get();
    }
  }
  return nullptr;
}

// --- heap ----------------------------------------------------------------------

Object* TestVm::Impl::allocate(Class* cls) {
  auto* object = new Object;
  object->klass = cls;
  object->fields.assign(cls->instanceFieldCount, jvalue{});
  heap_.push_back(object);
  return object;
}

Object* TestVm::Impl::newString(const std::vector<jchar>& chars) {
  Object* s = allocate(requireClass("java/lang/String"));
  s->kind = ObjectKind::kString;
  s->length = static_cast<std::int32_t>(chars.size());
  s->chars.reset(new jchar[chars.size() + 1]());
  std::copy(chars.begin(), chars.end(), s->chars.get());
  return s;
}

Object* TestVm::Impl::newPrimitiveArray(char kind, std::int32_t length) {
  Object* a = allocate(requireClass(std::string("[") + kind));
  a->kind = ObjectKind::kPrimitiveArray;
  a->length = length;
  // Never empty, so every array's storage has its own address.
  a->primitives.reset(new unsigned char[static_cast<std::size_t>(length) * primitiveSize(kind) + 1]());
  return a;
}

Object* TestVm::Impl::newObjectArray(Class* elementClass, std::int32_t length) {
  Object* a = allocate(requireClass("[" + elementClass->descriptor()));
  a->kind = ObjectKind::kObjectArray;
  a->length = length;
  a->elements.assign(static_cast<std::size_t>(length), nullptr);
  return a;
}

void TestVm::Impl::maybeCollect() {
  if (heap_.size() >= collectThreshold_) collect();
}

void TestVm::Impl::markFrom(Object* root, std::vector<Object*>& stack) {
  if (root == nullptr || root->marked) return;
  root->marked = true;
  stack.push_back(root);
  while (!stack.empty()) {
    Object* o = stack.back();
    stack.pop_back();
    auto visit = [&stack](Object* child) {
      if (child != nullptr && !child->marked) {
        child->marked = true;
        stack.push_back(child);
      }
    };
    for (std::size_t i = 0; i < o->fields.size(); ++i) {
      if (o->klass->instanceReferenceFields[i]) visit(static_cast<Object*>(static_cast<void*>(o->fields[i].l)));
    }
    for (Object* element : o->elements) visit(element);
  }
}

void TestVm::Impl::collect() {
  for (Object* o : heap_) o->marked = false;
  std::vector<Object*> stack;
  auto root = [this, &stack](Object* o) { markFrom(o, stack); };
  for (auto& cls : classes_) {
    root(cls->mirror);
    for (auto& f : cls->fields) {
      if (f->isStatic && f->kind() == 'L') root(reinterpret_cast<Object*>(f->staticValue.l));
    }
  }
  root(appClassLoader);
  globals.forEachLive(root);
  for (ThreadState* ts : threads_) {
    ts->locals.forEachLive(root);
    for (Object* handle : ts->handles) root(handle);
    root(ts->pendingException);
    root(ts->peer);
  }
  for (auto& pin : pins) root(pin.second.object);
  weakGlobals.clearUnmarked();
  std::vector<Object*> live;
  live.reserve(heap_.size());
  for (Object* o : heap_) {
    if (o->marked) {
      live.push_back(o);
    } else {
      delete o;
    }
  }
  heap_.swap(live);
  collectThreshold_ = std::max(kMinCollectThreshold, 2 * heap_.size());
}

// --- references --------------------------------------------------------------

jobject TestVm::Impl::addLocal(ThreadState* ts, Object* object, const char* entry) {
  if (object == nullptr) return nullptr;
  jobject ref = ts->locals.add(object);
  if (ref == nullptr) {
    recordError(VmError::kTableOverflow, entry,
                "local reference table overflow (max=" + std::to_string(ts->locals.capacity()) + ")");
  }
  return ref;
}

Object* TestVm::Impl::decode(ThreadState* ts, jobject ref, const char* entry, bool* valid) {
  if (valid != nullptr) *valid = true;
  if (ref == nullptr) return nullptr;
  Object* object = nullptr;
  bool ok = false;
  switch (refKindOf(ref)) {
    case kLocalRef:
      ok = ts->locals.get(ref, &object);
      break;
    case kGlobalRef:
      ok = globals.get(ref, &object);
      break;
    case kWeakGlobalRef:
      ok = weakGlobals.get(ref, &object);
      break;
    case kHandleRef:
      for (Object*& handle : ts->handles) {
        if (reinterpret_cast<jobject>(&handle) == ref) {
          object = handle;
          ok = true;
        }
      }
      break;
  }
  if (!ok) {
    std::ostringstream detail;
    detail << "use of invalid jobject " << static_cast<const void*>(ref);
    recordError(VmError::kInvalidReference, entry, detail.str());
    if (valid != nullptr) *valid = false;
    return nullptr;
  }
  return object;
}

jobject TestVm::Impl::pushHandle(ThreadState* ts, Object* object) {
  ts->handles.push_back(object);
  return reinterpret_cast<jobject>(&ts->handles.back());
}

void TestVm::Impl::throwNew(ThreadState* ts, const std::string& className, std::optional<std::string> message) {
  Object* t = allocate(requireClass(className));
  t->message = std::move(message);
  ts->pendingException = t;
}

void TestVm::Impl::recordError(VmError::Kind kind, std::string entry, std::string detail, std::string bytes) {
  std::fprintf(stderr, "testvm: JNI misuse in %s: %s\n", entry.c_str(), detail.c_str());
  std::lock_guard<std::mutex> lock(recorder.mutex);
  recorder.errors.push_back(VmError{kind, std::move(entry), std::move(detail), std::move(bytes)});
}

// --- threads -------------------------------------------------------------------

ThreadState* TestVm::Impl::current() const { return static_cast<ThreadState*>(pthread_getspecific(threadKey_)); }

ThreadState* TestVm::Impl::attachCurrent(bool managed) {
  auto* ts = new ThreadState(this, table_, javaVm(), sdkInt, managed);
  ts->id = currentOsThreadId();
  {
    std::lock_guard<std::mutex> lock(mutex);
    threads_.insert(ts);
    ++counters_[ts->id].attaches;
  }
  pthread_setspecific(threadKey_, ts);
  return ts;
}

ThreadState* TestVm::Impl::prepareJavaThread(Object* peer) {
  auto* ts = new ThreadState(this, table_, javaVm(), sdkInt, true);
  ts->peer = peer;
  threads_.insert(ts);
  return ts;
}

void TestVm::Impl::bindPrepared(ThreadState* ts) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    ts->id = currentOsThreadId();
    ++counters_[ts->id].attaches;
  }
  pthread_setspecific(threadKey_, ts);
}

void TestVm::Impl::detachCurrent(ThreadState* ts, bool counted) {
  pthread_setspecific(threadKey_, nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex);
    threads_.erase(ts);
    if (counted) ++counters_[ts->id].detaches;
  }
  delete ts;
}

void TestVm::Impl::onThreadExit(void* state) {
  auto* ts = static_cast<ThreadState*>(state);
  ts->vm->recordError(VmError::kThreadExitedAttached, "thread exit",
                      "thread " + std::to_string(ts->id) + " exited without DetachCurrentThread");
  ts->vm->detachCurrent(ts, false);
}

ThreadCounters TestVm::Impl::counters(ThreadId id) const {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = counters_.find(id);
  return it == counters_.end() ? ThreadCounters{} : it->second;
}

std::size_t TestVm::Impl::attachedCount() const {
  std::lock_guard<std::mutex> lock(mutex);
  std::size_t count = 0;
  for (ThreadState* ts : threads_) {
    if (ts->id != 0) ++count;
  }
  return count;
}

}  // namespace testvm
